#pragma once

#include "runtime/runtime_window.h"
#include "text/text.h"

#include <QDeadlineTimer>
#include <QString>

#include <memory>
#include <string_view>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QWebEngineView;

namespace qinghe {

struct Addresses;
class PageBrowser;
class WindowRuntime;
enum class WaitOutcome;

inline constexpr const char* kLyricsWindowDefinition = ":/ui/lyrics_window.ui";

// Opens "青禾在线搜索歌词", or brings the open one forward. Its searches go
// to the music portal of addresses. The web view control kind must be
// registered before (the main window registers it when it opens).
RuntimeWindow* openLyricsWindow(WindowRuntime& runtime, const Addresses& addresses);

// The lyrics search: "取歌词" looks the song of 歌名 by the singer of 歌手 up
// on the music portal through the hidden 浏览框 and shows its lyrics in 歌词.
class LyricsWindow : public RuntimeWindow {
    Q_OBJECT

public:
    // Longest a search may take, from the click to the lyrics; after it the
    // host is told the song was not found. The portal answers within a few
    // seconds when it is reachable at all.
    static constexpr int kSearchTimeLimitMs = 20000;

    LyricsWindow(QString searchPage, QString lyricsPage);
    ~LyricsWindow() override;

    bool isSearching() const { return searching_; }
    // For tests that need the bound to pass sooner.
    void setSearchTimeLimit(int milliseconds) { searchTimeLimitMs_ = milliseconds; }

    // The search address for a title and a singer, exactly as it is sent.
    QString searchAddress(std::string_view title, std::string_view singer) const;

protected:
    void bindControls(ControlBinder& binder) override;
    void onCreated() override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The window's controls, bound at load.
    struct Controls {
        QLineEdit* titleBox = nullptr;         // 歌名
        QLineEdit* singerBox = nullptr;        // 歌手
        QPushButton* searchButton = nullptr;   // 查看
        QPlainTextEdit* lyricsBox = nullptr;   // 歌词
        QWebEngineView* browserView = nullptr; // 浏览框
    };
    // What a search brings back from the portal.
    struct FoundLyrics {
        Text singer;
        Text lyrics;
    };
    class SearchRun;

    void search();
    WaitOutcome fetchLyrics(std::string_view title, std::string_view singer, const QDeadlineTimer& deadline,
                            FoundLyrics& found);
    PageBrowser& browser();

    QString searchPage_;
    QString lyricsPage_;
    Controls controls_;
    std::unique_ptr<PageBrowser> browser_;
    int searchTimeLimitMs_ = kSearchTimeLimitMs;
    bool searching_ = false;
    bool closeAfterSearch_ = false;
};

}  // namespace qinghe
