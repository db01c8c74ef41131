// The bundled lookup server: serves each character's information page and
// picture from data loaded at start, plus a probe page at "/".
//
//   GET "/"                    a small UTF-8 page carrying the probe marker
//   GET "/wubi/" C ".htm"      the character's page (GBK, six fields)
//   GET "/wubis/" C ".jpg"     a JPEG picture of the character
// C may be sent percent-encoded as GBK or UTF-8 bytes, or as raw GBK bytes.
// Anything else, or a character without data, is a 404 with a short GBK
// page; methods other than GET and HEAD get 405.
#pragma once

#include <memory>
#include <string>

namespace zivorna::server {

struct ServerOptions {
  std::string host = "127.0.0.1";  // loopback unless told otherwise
  int port = 0;                    // 0: a port chosen by the system
  std::string wubi98Path;          // empty: look in the standard Rime data folders
  // Whether an empty wubi98Path looks in the standard Rime data folders
  // (/usr/share/rime-data, ~/.local/share/fcitx5/rime, ~/.config/ibus/rime).
  bool findWubi98 = true;
  std::string dataPath;  // empty: the data file built with the program
  std::string fontPath;  // empty: WenQuanYi Micro Hei from its Debian package
};

class LookupServer {
 public:
  virtual ~LookupServer() = default;
  // Loads the data and binds; null with `*error` set when either fails.
  // Drawing pictures needs a QGuiApplication (or QApplication) to exist.
  static std::unique_ptr<LookupServer> Start(const ServerOptions& options, std::string* error);
  // The bound port and the base address "http://HOST:PORT" (no final "/").
  [[nodiscard]] virtual int Port() const = 0;
  [[nodiscard]] virtual std::string BaseUrl() const = 0;
  // The Wubi 98 table in use; empty when none was found.
  [[nodiscard]] virtual std::string Wubi98Table() const = 0;
  // Stops serving and joins the server's threads; idempotent.
  virtual void Stop() = 0;
};

// Writes the pages and pictures of `characters` as static files under `dir`,
// named by each character's raw GBK bytes: dir/wubi/<GBK>.htm and
// dir/wubis/<GBK>.jpg. A static web server that decodes percent-escapes
// serves them at the addresses this server uses. Characters without data or
// without a GBK form are skipped. False with `*error` set when loading or
// writing fails; `*exported` counts the characters written.
bool ExportStaticFiles(const ServerOptions& options, const std::u32string& characters,
                       const std::string& dir, int* exported, std::string* error);

// The Wubi 98 table to use: `explicitPath` when given, else the first
// wubi98.dict.yaml in the standard Rime data folders; empty when none.
[[nodiscard]] std::string FindWubi98Table(const std::string& explicitPath);

}  // namespace zivorna::server
