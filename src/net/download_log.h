#pragma once

// The status lines of the download service, as the log handler receives
// them (GBK). The forms are written here in UTF-8; "%s" and "%d" are filled
// in order.

#include "text/text.h"

#include <initializer_list>
#include <string_view>

namespace qinghe::downloadStatus {

inline constexpr std::string_view kResolving = "正在解析域名 [%s]";
inline constexpr std::string_view kResolveFailed = "解析域名 [%s]出错";
inline constexpr std::string_view kResolvingProxy = "正在代理服务器解析域名 [%s]";
inline constexpr std::string_view kResolveProxyFailed = "解析代理服务器域名 [%s]出错";
inline constexpr std::string_view kConnecting = "正在连接 [%s:%d]";
inline constexpr std::string_view kConnectingProxy = "正在连接代理服务器 [%s:%d]";
inline constexpr std::string_view kConnected = "连接 [%s:%d]成功";
inline constexpr std::string_view kReconnected = "连接[%s:%d]成功";
inline constexpr std::string_view kConnectTimedOut = "连接 [%s:%d]超时";
inline constexpr std::string_view kConnectFailed = "连接 [%s:%d]失败";
inline constexpr std::string_view kSendFailed = "发送请求失败";
inline constexpr std::string_view kHeaderTooLong = "HTTP返回头部信息过长";
inline constexpr std::string_view kRedirected = "重定向到 [%s]";
inline constexpr std::string_view kTooManyRedirects = "重定向次数过多";
inline constexpr std::string_view kNoLocation = "获得重定向信息错误";
inline constexpr std::string_view kBadRedirect = "COOKIE过长或获得重定向信息错误或不支持的协议";
inline constexpr std::string_view kClientError = "出现错误";
inline constexpr std::string_view kUnsupportedReply = "暂时不支持的返回, 返回号[%d]";
inline constexpr std::string_view kRetrying = "等待%d秒后重试";
inline constexpr std::string_view kRenamedBySystem = "发现同名文件, 系统自动更名为%s";
inline constexpr std::string_view kRenamedByUser = "发现同名文件, 用户更名为%s";
inline constexpr std::string_view kAbandoned = "发现同名文件, 用户选择放弃下载";
inline constexpr std::string_view kNoFreeName = "发现同名文件，超过系统自动更名次数";
inline constexpr std::string_view kCreateFailed = "创建文件错误，超出最大支持下载长度或磁盘是可写或磁盘没有空间";
inline constexpr std::string_view kOpenFailed = "打开文件失败，请检查磁盘是否存在 %s 这个文件";

// The line in GBK with each "%s" or "%d" replaced by the next value (GBK
// already, or digits).
Text fill(std::string_view utf8Form, std::initializer_list<std::string_view> values = {});

}  // namespace qinghe::downloadStatus
