// Recording fakes of the two platform layers. Each records the calls it
// receives, in order, as short readable lines, and plays back a scripted
// response, so tests can compare whole call sequences.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "platform/internet.h"
#include "platform/request_object.h"
#include "text/text.h"

namespace zivorna::testing {

inline std::string Show(const std::optional<Text>& text) { return text ? "'" + *text + "'" : "null"; }
inline std::string Show(const ByteSet& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The connection layer. Handles: internet 1, connection 2, request 3.
class FakeInternet : public platform::Internet {
 public:
  // --- script ---
  bool failOpen = false, failConnect = false, failRequest = false;
  bool sendResult = true;
  ByteSet body;                             // handed out by ReadFile
  std::uint32_t maxPerRead = 0xFFFFFFFFu;   // a read delivers at most this many
  std::optional<std::size_t> failReadAfter; // reads fail once this many bytes went out
  Text responseHeaders;                     // delivered by QueryInfo
  bool failQuery = false;

  // --- record ---
  std::vector<std::string> calls;
  Text agent;
  int accessType = 0;
  std::optional<Text> proxyList, proxyBypass;
  std::uint32_t openFlags = 99;
  Text host;
  int port = 0;
  Text verb, path, version;
  std::uint32_t requestFlags = 0;
  Text sentHeaders;
  ByteSet sentBody;
  std::vector<std::uint32_t> readSizes;
  std::uint32_t queryBufferSize = 0;

  platform::InetHandle OpenInternet(const Text& a, int type, const std::optional<Text>& list,
                                    const std::optional<Text>& bypass, std::uint32_t flags) override {
    agent = a;
    accessType = type;
    proxyList = list;
    proxyBypass = bypass;
    openFlags = flags;
    calls.push_back("OpenInternet(type=" + std::to_string(type) + " proxy=" + Show(list) +
                    " bypass=" + Show(bypass) + " flags=" + std::to_string(flags) + ")");
    return failOpen ? 0 : 1;
  }
  platform::InetHandle Connect(platform::InetHandle internet, const Text& h, int p,
                               const std::optional<Text>& user, const std::optional<Text>& password,
                               int service, std::uint32_t flags, std::uintptr_t context) override {
    host = h;
    port = p;
    calls.push_back("Connect(" + std::to_string(internet) + " " + h + ":" + std::to_string(p) +
                    " user=" + Show(user) + " password=" + Show(password) + " service=" +
                    std::to_string(service) + " flags=" + std::to_string(flags) + " context=" +
                    std::to_string(context) + ")");
    return failConnect ? 0 : 2;
  }
  platform::InetHandle OpenRequest(platform::InetHandle connection, const Text& v, const Text& p,
                                   const Text& ver, const std::optional<Text>& referrer,
                                   std::uint32_t flags, std::uintptr_t context) override {
    verb = v;
    path = p;
    version = ver;
    requestFlags = flags;
    calls.push_back("OpenRequest(" + std::to_string(connection) + " " + v + " " + p + " " + ver +
                    " referrer=" + Show(referrer) + " context=" + std::to_string(context) + ")");
    return failRequest ? 0 : 3;
  }
  bool SendRequest(platform::InetHandle request, const Text& headers, const ByteSet& b) override {
    sentHeaders = headers;
    sentBody = b;
    calls.push_back("SendRequest(" + std::to_string(request) + ")");
    return sendResult;
  }
  bool ReadFile(platform::InetHandle request, std::uint8_t* buffer, std::uint32_t toRead,
                std::uint32_t* read) override {
    readSizes.push_back(toRead);
    if (calls.empty() || calls.back() != "ReadFile(" + std::to_string(request) + ")") {
      calls.push_back("ReadFile(" + std::to_string(request) + ")");  // a run of reads logs once
    }
    std::size_t limit = body.size();
    if (failReadAfter) limit = std::min(limit, *failReadAfter);
    const std::size_t n = std::min<std::size_t>({toRead, maxPerRead, limit - delivered_});
    if (n > 0) std::memcpy(buffer, body.data() + delivered_, n);
    delivered_ += n;
    *read = static_cast<std::uint32_t>(n);
    return n > 0;
  }
  bool QueryInfo(platform::InetHandle request, std::uint32_t infoLevel, char* buffer,
                 std::uint32_t* length, std::uint32_t* index) override {
    queryBufferSize = *length;
    calls.push_back("QueryInfo(" + std::to_string(request) + " level=" + std::to_string(infoLevel) +
                    " index=" + (index ? "set" : "null") + ")");
    if (failQuery || responseHeaders.size() + 1 > *length) return false;
    std::memcpy(buffer, responseHeaders.data(), responseHeaders.size());
    buffer[responseHeaders.size()] = '\0';
    *length = static_cast<std::uint32_t>(responseHeaders.size());
    return true;
  }
  bool CloseHandle(platform::InetHandle handle) override {
    calls.push_back("Close(" + std::to_string(handle) + ")");
    return true;
  }

 private:
  std::size_t delivered_ = 0;
};

// The request-object layer. Objects and the factory share one log; texts
// crossing the seam are logged in GBK (converted back from UTF-16).
class FakeRequestObject : public platform::RequestObject {
 public:
  explicit FakeRequestObject(std::vector<std::string>& log) : log_(log) {}
  ~FakeRequestObject() override { log_.push_back("Release"); }

  // --- script ---
  std::optional<ByteSet> responseBody = ByteSet();
  std::optional<std::u16string> responseHeaders = std::u16string();

  // --- record ---
  std::function<void(const std::u16string& url)> onOpen;  // sees the raw UTF-16

  bool SetTimeouts(int a, int b, int c, int d) override {
    log_.push_back("SetTimeouts(" + std::to_string(a) + "," + std::to_string(b) + "," +
                   std::to_string(c) + "," + std::to_string(d) + ")");
    return true;
  }
  bool SetProxy(int setting, const std::u16string& server) override {
    log_.push_back("SetProxy(" + std::to_string(setting) + "," + Gbk(server) + ")");
    return true;
  }
  bool SetCredentials(const std::u16string& user, const std::u16string& password,
                      int flags) override {
    log_.push_back("SetCredentials(" + Gbk(user) + "," + Gbk(password) + "," +
                   std::to_string(flags) + ")");
    return true;
  }
  bool Open(const std::u16string& verb, const std::u16string& url, bool async) override {
    if (onOpen) onOpen(url);
    log_.push_back("Open(" + Gbk(verb) + "," + Gbk(url) + "," + (async ? "true" : "false") + ")");
    return true;
  }
  bool SetOption(int option, int value) override {
    log_.push_back("SetOption(" + std::to_string(option) + "," + std::to_string(value) + ")");
    return true;
  }
  bool SetRequestHeader(const std::u16string& name, const std::u16string& value) override {
    log_.push_back("SetRequestHeader(" + Gbk(name) + "," + Gbk(value) + ")");
    return !name.empty();
  }
  bool Send(const std::u16string& body) override {
    log_.push_back("Send(text:" + Gbk(body) + ")");
    return responseBody.has_value();
  }
  bool Send(const ByteSet& body) override {
    log_.push_back("Send(bytes:" + Show(body) + ")");
    return responseBody.has_value();
  }
  std::optional<ByteSet> ResponseBody() override {
    log_.push_back("ResponseBody");
    return responseBody;
  }
  std::optional<std::u16string> GetAllResponseHeaders() override {
    log_.push_back("GetAllResponseHeaders");
    return responseHeaders;
  }

 private:
  static std::string Gbk(const std::u16string& s) { return platform::Utf16ToGbk(s); }
  std::vector<std::string>& log_;
};

class FakeRequestObjects : public platform::RequestObjects {
 public:
  // --- script ---
  bool beginResult = true;
  bool failCreate = false;
  // Called on each object made, before it is handed out.
  std::function<void(FakeRequestObject&)> prepare;

  // --- record ---
  std::vector<std::string> log;
  std::weak_ptr<FakeRequestObject> last;

  bool Begin() override {
    log.push_back("Begin");
    return beginResult;
  }
  void End() override { log.push_back("End"); }
  std::shared_ptr<platform::RequestObject> Create(const std::u16string& progId) override {
    log.push_back("Create(" + platform::Utf16ToGbk(progId) + ")");
    if (failCreate) return nullptr;
    auto object = std::make_shared<FakeRequestObject>(log);
    if (prepare) prepare(*object);
    last = object;
    return object;
  }
};

}  // namespace zivorna::testing
