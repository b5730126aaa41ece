// A throwaway self-signed certificate for 127.0.0.1, made with OpenSSL's API, for local TLS
// test servers. The PEM files go into a folder the caller owns.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testenv {

struct TlsFiles {
  std::string cert, key;
};

inline TlsFiles MakeSelfSignedCert(const std::filesystem::path& folder) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* x = X509_new();
  if (!key || !x) throw std::runtime_error("OpenSSL could not make a key");
  ASN1_INTEGER_set(X509_get_serialNumber(x), 1);
  X509_gmtime_adj(X509_getm_notBefore(x), -60);
  X509_gmtime_adj(X509_getm_notAfter(x), 3600);
  X509_set_pubkey(x, key);
  X509_NAME* name = X509_get_subject_name(x);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
  X509_set_issuer_name(x, name);
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  for (const char* ext : {"subjectAltName=IP:127.0.0.1,DNS:localhost", "basicConstraints=critical,CA:TRUE"}) {
    const std::string e(ext);
    const size_t eq = e.find('=');
    X509_EXTENSION* made = X509V3_EXT_conf(nullptr, &ctx, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str());
    if (!made) throw std::runtime_error("OpenSSL refused an extension");
    X509_add_ext(x, made, -1);
    X509_EXTENSION_free(made);
  }
  if (X509_sign(x, key, EVP_sha256()) == 0) throw std::runtime_error("OpenSSL could not sign");
  TlsFiles files{(folder / "cert.pem").string(), (folder / "key.pem").string()};
  FILE* f = std::fopen(files.cert.c_str(), "w");
  PEM_write_X509(f, x);
  std::fclose(f);
  f = std::fopen(files.key.c_str(), "w");
  PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(f);
  X509_free(x);
  EVP_PKEY_free(key);
  return files;
}

}  // namespace testenv
