#include "tests/support/test_certificates.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tests/support/temp_dir.h"

namespace zivorna::testing {
namespace {

bool Run(const std::string& command) {
  const std::string quiet = command + " >/dev/null 2>&1";
  if (std::system(quiet.c_str()) == 0) return true;
  std::fprintf(stderr, "test certificates: command failed: %s\n", command.c_str());
  return false;
}

// "'...'" for the shell; the paths come from mkdtemp and hold no quote.
std::string Quote(const std::string& path) { return "'" + path + "'"; }

constexpr const char* kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

bool MakeAll(const TempDir& dir, TestCertificates& out) {
  if (dir.path().empty()) return false;
  const std::string ca = dir.File("ca.pem");
  const std::string caKey = dir.File("ca.key");
  const std::string serverExt = dir.Write(
      "server.ext",
      "subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
      "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n");
  const std::string wrongExt = dir.Write(
      "wrong.ext",
      "subjectAltName=DNS:other.invalid\nbasicConstraints=CA:FALSE\n"
      "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n");
  if (serverExt.empty() || wrongExt.empty()) return false;

  auto signedPair = [&](const std::string& name, const std::string& ext, TlsFiles& files) {
    files.certificate = dir.File(name + ".pem");
    files.key = dir.File(name + ".key");
    const std::string csr = dir.File(name + ".csr");
    return Run("openssl req " + std::string(kNewKey) + " -keyout " + Quote(files.key) + " -out " +
               Quote(csr) + " -subj '/CN=" + name + "'") &&
           Run("openssl x509 -req -in " + Quote(csr) + " -CA " + Quote(ca) + " -CAkey " + Quote(caKey) +
               " -CAcreateserial -days 2 -extfile " + Quote(ext) + " -out " + Quote(files.certificate));
  };

  out.ca = ca;
  out.selfSigned = {dir.File("self.pem"), dir.File("self.key")};
  return Run("openssl req -x509 " + std::string(kNewKey) + " -keyout " + Quote(caKey) + " -out " +
             Quote(ca) + " -days 2 -subj '/CN=Test Authority'" +
             " -addext 'basicConstraints=critical,CA:TRUE'" +
             " -addext 'keyUsage=critical,keyCertSign,cRLSign'") &&
         signedPair("localhost", serverExt, out.signedByCa) &&
         signedPair("other.invalid", wrongExt, out.wrongName) &&
         Run("openssl req -x509 " + std::string(kNewKey) + " -keyout " + Quote(out.selfSigned.key) +
             " -out " + Quote(out.selfSigned.certificate) + " -days 2 -subj '/CN=localhost'" +
             " -addext 'subjectAltName=IP:127.0.0.1,DNS:localhost'");
}

}  // namespace

const TestCertificates* TestCertificates::Get() {
  struct Holder {
    TempDir dir;
    TestCertificates certificates;
    bool ok = false;
  };
  static const std::unique_ptr<Holder> holder = [] {
    auto h = std::make_unique<Holder>();
    h->ok = MakeAll(h->dir, h->certificates);
    return h;
  }();
  return holder->ok ? &holder->certificates : nullptr;
}

}  // namespace zivorna::testing
