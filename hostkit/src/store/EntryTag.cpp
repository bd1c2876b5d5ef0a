// HMAC-SHA256 through libcrypto's EVP_MAC: a context keyed once, duplicated for each tag.
#include "EntryTag.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <stdexcept>

namespace orvex {
namespace hostkit {
namespace store {

struct EntryKey::Context {
  EVP_MAC* mac = nullptr;
  // Keyed and initialised once; every tag works on a copy, so this one is only read.
  EVP_MAC_CTX* keyed = nullptr;
  ~Context() {
    EVP_MAC_CTX_free(keyed);
    EVP_MAC_free(mac);
  }
};

EntryKey::EntryKey(const std::string& key) : m_context(new Context) {
  m_context->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  if (m_context->mac != nullptr) m_context->keyed = EVP_MAC_CTX_new(m_context->mac);
  char digest[] = "SHA256";
  const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                   OSSL_PARAM_construct_end()};
  if (m_context->keyed == nullptr ||
      EVP_MAC_init(m_context->keyed, reinterpret_cast<const unsigned char*>(key.data()), key.size(), parameters) != 1) {
    throw std::runtime_error("libcrypto cannot set up HMAC-SHA256");
  }
}

EntryKey::~EntryKey() = default;

bool EntryKey::Tag(std::string_view first, std::string_view second, unsigned char* tag) const {
  EVP_MAC_CTX* context = EVP_MAC_CTX_dup(m_context->keyed);
  if (context == nullptr) return false;
  std::size_t length = 0;
  const bool done = EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(first.data()), first.size()) == 1 &&
                    EVP_MAC_update(context, reinterpret_cast<const unsigned char*>(second.data()), second.size()) == 1 &&
                    EVP_MAC_final(context, tag, &length, kTagBytes) == 1 && length == kTagBytes;
  EVP_MAC_CTX_free(context);
  return done;
}

bool EntryKey::Verify(std::string_view first, std::string_view second, const unsigned char* tag) const {
  unsigned char expected[kTagBytes];
  return Tag(first, second, expected) && CRYPTO_memcmp(expected, tag, kTagBytes) == 0;
}

}  // namespace store
}  // namespace hostkit
}  // namespace orvex
