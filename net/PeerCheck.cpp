#include "net/PeerCheck.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <strings.h>

#include <ctime>
#include <memory>
#include <string_view>

namespace net {
namespace {

// The chain failed for want of a trusted issuer, and for no other reason.
bool isAuthorityError(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return true;
    default:
        return false;
    }
}

// The certificate has alternative names of a host (DNS names or addresses).
bool hasAlternativeNames(X509* certificate)
{
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    bool found = false;
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names); ++i) {
        const int type = sk_GENERAL_NAME_value(names, i)->type;
        found = found || type == GEN_DNS || type == GEN_IPADD;
    }
    GENERAL_NAMES_free(names);
    return found;
}

// 0: the certificate names the host as libcurl's own check (VERIFYHOST) reads it; otherwise the
// verification error saying it does not. Alternative names of the host's kind decide; a
// certificate with none names its host in its common name, which an address must equal (the
// last common name, as libcurl takes it).
int nameError(X509* certificate, const std::string& host)
{
    const int ip = X509_check_ip_asc(certificate, host.c_str(), 0);  // -2: not an address literal
    const int mismatch = ip == -2 ? X509_V_ERR_HOSTNAME_MISMATCH : X509_V_ERR_IP_ADDRESS_MISMATCH;
    const bool alternatives = hasAlternativeNames(certificate);
    if (ip == -2) {
        const unsigned flags =
            X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | (alternatives ? X509_CHECK_FLAG_NEVER_CHECK_SUBJECT : 0);
        return X509_check_host(certificate, host.data(), host.size(), flags, nullptr) == 1 ? 0 : mismatch;
    }
    if (alternatives)
        return ip == 1 ? 0 : mismatch;
    const X509_NAME* subject = X509_get_subject_name(certificate);
    int last = -1;
    for (int at = -1; (at = X509_NAME_get_index_by_NID(subject, NID_commonName, at)) >= 0;)
        last = at;
    if (last < 0)
        return mismatch;
    const ASN1_STRING* name = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, last));
    const std::string_view common(reinterpret_cast<const char*>(ASN1_STRING_get0_data(name)),
                                  static_cast<std::size_t>(ASN1_STRING_length(name)));
    return common.size() == host.size() && strncasecmp(common.data(), host.data(), host.size()) == 0 ? 0 : mismatch;
}

std::string nameText(const X509_NAME* name)
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string timeText(const ASN1_TIME* time)
{
    std::tm tm{};
    char text[32] = "?";
    if (time && ASN1_TIME_to_tm(time, &tm) == 1)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

std::string hexWithColons(const unsigned char* bytes, unsigned size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        if (i > 0)
            text += ':';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

// libcurl's CURLOPT_PINNEDPUBLICKEY form: the SHA-256 of the DER SubjectPublicKeyInfo, in base64.
std::string publicKeyPin(X509* certificate)
{
    unsigned char* der = nullptr;
    const int size = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    if (size <= 0)
        return {};
    const std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(der, [](unsigned char* p) {
        OPENSSL_free(p);
    });
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_Digest(der, static_cast<std::size_t>(size), digest, &length, EVP_sha256(), nullptr) != 1)
        return {};
    unsigned char base64[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    EVP_EncodeBlock(base64, digest, static_cast<int>(length));
    return "sha256//" + std::string(reinterpret_cast<char*>(base64));
}

// Set while the leaf holds the key trusted for this run: that key stands in for the authority,
// and OpenSSL goes on to check all else (dates, purpose) as for any certificate.
int acceptMissingAuthority(int ok, X509_STORE_CTX* store)
{
    if (ok || !isAuthorityError(X509_STORE_CTX_get_error(store)))
        return ok;
    X509_STORE_CTX_set_error(store, X509_V_OK);
    return 1;
}

}  // namespace

CURLcode PeerCheck::install(CURL*, void* sslContext, void* self)
{
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), &PeerCheck::verify, self);
    return CURLE_OK;
}

int PeerCheck::verify(X509_STORE_CTX* store, void* self)
{
    auto* check = static_cast<PeerCheck*>(self);
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf && !check->m_pinnedKey.empty()) {
        if (publicKeyPin(leaf) == check->m_pinnedKey)
            X509_STORE_CTX_set_verify_cb(store, &acceptMissingAuthority);
        else
            check->m_otherKey = true;
    }
    const int verified = X509_verify_cert(store);
    check->m_refusal.reset();
    if (verified == 1) {
        if (const int error = leaf ? nameError(leaf, check->m_host) : 0)
            check->m_refusal = error;  // libcurl refuses it next
        return verified;
    }
    check->m_refusal = X509_STORE_CTX_get_error(store);
    if (!leaf || !isAuthorityError(X509_STORE_CTX_get_error(store)))
        return verified;
    // Trust cannot mend a certificate for another name, or out of its dates: say so rather
    // than "unknown authority", and offer nothing.
    int error = nameError(leaf, check->m_host);
    if (error == 0 && X509_cmp_current_time(X509_get0_notBefore(leaf)) >= 0)
        error = X509_V_ERR_CERT_NOT_YET_VALID;
    if (error == 0 && X509_cmp_current_time(X509_get0_notAfter(leaf)) <= 0)
        error = X509_V_ERR_CERT_HAS_EXPIRED;
    if (error != 0) {
        X509_STORE_CTX_set_error(store, error);
        check->m_refusal = error;
        return verified;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    ServerCertificate certificate;
    certificate.server = check->m_server;
    certificate.subject = nameText(X509_get_subject_name(leaf));
    certificate.issuer = nameText(X509_get_issuer_name(leaf));
    certificate.validFrom = timeText(X509_get0_notBefore(leaf));
    certificate.validUntil = timeText(X509_get0_notAfter(leaf));
    if (X509_digest(leaf, EVP_sha256(), digest, &length) == 1)
        certificate.fingerprint = hexWithColons(digest, length);
    certificate.publicKeyPin = publicKeyPin(leaf);
    if (!certificate.fingerprint.empty() && !certificate.publicKeyPin.empty())
        check->m_untrusted = std::move(certificate);
    return verified;
}

}  // namespace net
