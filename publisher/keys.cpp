#include "publisher/keys.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include "manifest/ascii.h"
#include "publisher/digest.h"

namespace orvantis {
namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

bool IsP256(EVP_PKEY* key) {
    char group[64] = {};
    size_t n = 0;
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
    if (!EVP_PKEY_get_group_name(key, group, sizeof group, &n)) return false;
    return strcmp(group, "prime256v1") == 0 || strcmp(group, "P-256") == 0;
}

// Writes all of data to a new file, failing rather than replacing anything already there:
// overwriting a key would silently orphan every launcher built with the old public half.
bool WriteNewPrivateFile(const std::string& path, const std::string& data, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = errno == EEXIST ? path + " already exists; choose another name (an existing key is never replaced)"
                                : path + ": " + strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) ok = false;
        else done += size_t(n);
    }
    ok = ok && fsync(fd) == 0;
    if (close(fd) != 0) ok = false;
    if (!ok) {
        error = path + ": could not write the key (" + strerror(errno) + ")";
        unlink(path.c_str());
    }
    return ok;
}

}  // namespace

bool GenerateKey(const std::string& path, std::string& publicHex, std::string& error) {
    PKey key(EVP_EC_gen("P-256"));
    if (!key) {
        error = "could not generate a P-256 key";
        return false;
    }
    BIO* bio = BIO_new(BIO_s_mem());
    bool ok = PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string pem = ok && n > 0 ? std::string(data, size_t(n)) : std::string();
    BIO_free(bio);
    if (pem.empty()) {
        error = "could not encode the key";
        return false;
    }
    publicHex = PublicHex(key.get());
    if (publicHex.empty()) {
        error = "could not read the public point of the new key";
        return false;
    }
    return WriteNewPrivateFile(path, pem, error);
}

PKey LoadPrivateKey(const std::string& path, std::string& error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        error = path + ": " + strerror(errno);
        return nullptr;
    }
    PKey key(PEM_read_PrivateKey(f, nullptr, nullptr, nullptr));
    fclose(f);
    if (!key) {
        error = path + ": not a PEM private key";
        return nullptr;
    }
    if (!IsP256(key.get())) {
        error = path + ": not an ECDSA P-256 key";
        return nullptr;
    }
    return key;
}

PKey PublicKeyFromHex(const std::string& hex, std::string& error) {
    std::vector<uint8_t> point;
    if (hex.size() != 130 || !DecodeHex(hex, point) || point[0] != 4) {
        error = "the public key must be 130 hex digits starting with 04 (the uncompressed point 04||X||Y)";
        return nullptr;
    }
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_utf8_string(bld, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0);
    OSSL_PARAM_BLD_push_octet_string(bld, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* raw = nullptr;
    if (ctx && params && EVP_PKEY_fromdata_init(ctx) == 1)
        EVP_PKEY_fromdata(ctx, &raw, EVP_PKEY_PUBLIC_KEY, params);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    PKey key(raw);
    if (!key) error = "the public key is not a point on the P-256 curve";
    return key;
}

std::string PublicHex(EVP_PKEY* key) {
    BIGNUM* x = nullptr;
    BIGNUM* y = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x);
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y);
    Bn bx(x), by(y);
    uint8_t point[65] = {4};
    if (!bx || !by || BN_bn2binpad(bx.get(), point + 1, 32) != 32 || BN_bn2binpad(by.get(), point + 33, 32) != 32)
        return "";
    return HexOf(point, sizeof point);
}

std::string SignHex(EVP_PKEY* key, const std::string& body) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    std::vector<uint8_t> der(128);
    size_t derSize = der.size();
    bool ok = EVP_DigestSignInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestSign(ctx, der.data(), &derSize, (const uint8_t*)body.data(), body.size()) == 1;
    EVP_MD_CTX_free(ctx);
    if (!ok) return "";
    // The launcher takes the fixed-size r||s form, not the DER that OpenSSL produces.
    const uint8_t* p = der.data();
    ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, long(derSize));
    if (!sig) return "";
    uint8_t rs[64];
    ok = BN_bn2binpad(ECDSA_SIG_get0_r(sig), rs, 32) == 32 && BN_bn2binpad(ECDSA_SIG_get0_s(sig), rs + 32, 32) == 32;
    ECDSA_SIG_free(sig);
    return ok ? HexOf(rs, sizeof rs) : "";
}

bool SignatureValid(EVP_PKEY* key, const std::string& body, const std::string& signatureHex) {
    std::vector<uint8_t> rs;
    if (signatureHex.size() != 128 || !DecodeHex(signatureHex, rs)) return false;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs.data(), 32, nullptr);
    BIGNUM* s = BN_bin2bn(rs.data() + 32, 32, nullptr);
    ECDSA_SIG_set0(sig, r, s);
    uint8_t* der = nullptr;
    int derSize = i2d_ECDSA_SIG(sig, &der);
    ECDSA_SIG_free(sig);
    if (derSize <= 0) return false;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    bool ok = EVP_DigestVerifyInit(ctx, nullptr, EVP_sha256(), nullptr, key) == 1 &&
              EVP_DigestVerify(ctx, der, size_t(derSize), (const uint8_t*)body.data(), body.size()) == 1;
    EVP_MD_CTX_free(ctx);
    OPENSSL_free(der);
    return ok;
}

}  // namespace orvantis
