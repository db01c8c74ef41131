// Certificates for TLS tests, made once per test process with the openssl
// command (EC P-256 keys, valid from now for two days):
//  * a test certificate authority (trust it with its `ca` file);
//  * `signedByCa`: a server certificate for 127.0.0.1 and localhost, signed by
//    that authority;
//  * `wrongName`: signed by the authority, but for the name other.invalid only;
//  * `selfSigned`: a server certificate for 127.0.0.1 and localhost that
//    signs itself.
// The files live in a private temporary directory removed at process exit.
#pragma once

#include <string>

#include "tests/support/http_test_server.h"

namespace zivorna::testing {

struct TestCertificates {
  std::string ca;  // PEM file of the test authority's certificate
  TlsFiles signedByCa;
  TlsFiles wrongName;
  TlsFiles selfSigned;

  // The process's certificates, or null when they could not be made (the
  // openssl command is missing or failed); the reason goes to stderr.
  static const TestCertificates* Get();
};

}  // namespace zivorna::testing
