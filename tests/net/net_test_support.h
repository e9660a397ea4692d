#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

// Every net test starts from an environment that names no proxy, and gets
// the caller's environment back afterwards.
class NetTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void setEnvironment(const std::string& name, const std::string& value);

private:
    std::map<std::string, std::optional<std::string>> saved_;
};
