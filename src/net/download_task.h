#pragma once

// The task record of the file download service: what to fetch, where to put
// it, how long to wait, and whom to tell. Start-up keeps one record with
// these defaults; the updater fills in its members before each start, and the
// service copies the record, so later changes do not reach a running task.

#include "text/text.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace qinghe {

struct DownloadTask;

// Task kinds (member 1). Only downloads are carried out; an upload task is
// refused at start.
inline constexpr int kDefaultTaskKind = 1;
inline constexpr int kDownloadTaskKind = 0x1000;
inline constexpr int kUploadTaskKind = 0x2000;

// Events raised to the event handler, with the meaning of (a, b):
// - size known: once, when the reply has announced the size; b = total size.
// - ended: once, when the task has ended for any reason; a = how it ended
//   (DownloadOutcome), b = the total size (0 when none was announced), after
//   a stop the bytes downloaded, c = the HTTP status of a refusing server.
//   The task passed with it holds the path the file was saved under.
// - file exists: before the file is created, when something already lies at
//   the save path; a = its size, b = the total size. The handler answers
//   with one of the three answers below.
inline constexpr int kDownloadSizeKnownEvent = 3;
inline constexpr int kDownloadEndedEvent = 4;
inline constexpr int kDownloadFileExistsEvent = 18;

// Answers to kDownloadFileExistsEvent.
inline constexpr int kSaveUnderFreeName = 0;    // the service numbers the name: "a(1).exe"
inline constexpr int kAbandonDownload = 1;      // nothing is written
inline constexpr int kUseNameFromHandler = 2;   // the handler wrote a new save path into the task
// The download goes on and, once complete, takes the existing file's place
// and its permissions: the file is replaced only by a whole download.
inline constexpr int kReplaceWhenComplete = 3;

// How a task ended, as the ended event gives it in a.
enum class DownloadOutcome {
    complete = 0,
    cannotConnect = 1,  // no server answered, on any try
    serverError = 2,    // the server answered with a status it will not get past (c)
    interrupted = 3,    // the transfer broke off and the tries ran out
    diskFull = 4,       // the file does not fit, or is larger than the service takes
    cannotWrite = 5,    // the file could not be made, written or put in place
    abandoned = 6,      // the handler chose not to replace an existing file
    stopped = 7,        // asked to stop
};

// Levels of the status lines given to the log handler.
enum class DownloadLogLevel { information = 0, requestSent = 1, headerReceived = 2, error = 3 };

// Status lines arrive on the connection's thread as GBK text.
using DownloadLogHandler = std::function<void(const Text& line, DownloadLogLevel level)>;

// Called with (event, a, b, c, task) on the service's threads, never with a
// lock of the service held, so it may wait for the window thread. task is the
// running task's own copy of the record; for kDownloadFileExistsEvent its
// savePath is the path that was found taken, and a handler answering
// kUseNameFromHandler writes the new path there. The return value counts
// only for kDownloadFileExistsEvent.
using DownloadEventHandler =
    std::function<int(int event, std::int64_t a, std::int64_t b, std::int64_t c, DownloadTask& task)>;

// The anonymous FTP login the record starts with.
inline constexpr const char* kAnonymousUser = "anonymous";
inline constexpr const char* kAnonymousPassword = "guest@qinghe.invalid";
// Every network wait of the service, in milliseconds: how long a connect, a
// send or one silence while receiving may last. With the retries below a
// dead server is given up after at most (1 + retries) such waits plus the
// waits between tries; the updater sets shorter ones to stay within its bound.
inline constexpr int kDefaultNetworkTimeoutMs = 20000;
// How long a stop waited for the task to end, in milliseconds. Kept for the
// record's shape: a stop now waits until the task has ended, which every
// wait of the task watching the stop makes short.
inline constexpr int kDefaultStopWaitMs = 1000;
// Bytes asked for per receive; also the size of the receive buffer, so a
// larger value is read in pieces of this size.
inline constexpr int kDefaultReadSize = 20480;
// The largest file the service takes: a reply announcing more, or more than
// the disk has free, ends the task before any room is claimed.
inline constexpr std::int64_t kLargestDownload = std::int64_t{2} << 30;
// Kept for the record's shape; the HTTP download does not use it.
inline constexpr int kDefaultSpareNumber = 1024;
// FTP transfer type: 1 binary; 3 would choose by the extension list.
inline constexpr int kDefaultTransferType = 1;
// File types an FTP transfer of type 3 sends in binary.
inline constexpr const char* kDefaultExtensionList = ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm";

struct DownloadTask {
    int kind = kDefaultTaskKind;                    //  1
    Text address;                                   //  2 http://host[:port]/path
    // 3: full path of the local file, GBK, "\" or "/" between folders. One
    // ending in a separator gets the file name the server gives, else the
    // last part of the address.
    Text savePath;
    Text loginUser = kAnonymousUser;                //  4 FTP only
    Text loginPassword = kAnonymousPassword;        //  5 FTP only
    int connections = 1;                            //  6 always one on HTTP
    int speedLimit = 0;                             //  7 bytes a second, 0 unlimited
    int connectTimeoutMs = kDefaultNetworkTimeoutMs;  //  8 0 or less: no limit
    int sendTimeoutMs = kDefaultNetworkTimeoutMs;     //  9 0 or less: no limit
    int receiveTimeoutMs = kDefaultNetworkTimeoutMs;  // 10 0 or less: no limit
    int stopWaitMs = kDefaultStopWaitMs;            // 11
    int readSize = kDefaultReadSize;                // 12
    int spareNumber = kDefaultSpareNumber;          // 13
    DownloadLogHandler logHandler;                  // 14 none: no status lines
    DownloadEventHandler eventHandler;              // 15 none: existing files are numbered
    Text spareText;                                 // 16 FTP only
    int transferType = kDefaultTransferType;        // 17 FTP only
    Text extensionList = kDefaultExtensionList;     // 18 FTP only
    std::optional<Text> proxy;                      // 19 "host:port" of an HTTP proxy; none or empty: direct
    std::optional<Text> referrer;                   // 20 none: the address up to its last "/"
};

}  // namespace qinghe
