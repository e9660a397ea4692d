#include "net_test_support.h"

#include <QCoreApplication>

#include <cstdlib>

namespace {

const char* const kProxyVariables[] = {
    "http_proxy", "https_proxy", "all_proxy", "no_proxy",
    "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY",
};

}  // namespace

void NetTest::SetUp()
{
    for (const char* name : kProxyVariables)
        setEnvironment(name, {});
}

void NetTest::TearDown()
{
    for (const auto& [name, value] : saved_) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

// An empty value removes the variable.
void NetTest::setEnvironment(const std::string& name, const std::string& value)
{
    if (!saved_.count(name)) {
        const char* old = std::getenv(name.c_str());
        saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value.empty())
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value.c_str(), 1);
}

// The tests run on the application's thread, as the window code does.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
