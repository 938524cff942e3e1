// WinZip AES decryption, part by part and whole, against OpenSSL's
// libcrypto on the same 64 MiB buffer: AES-256 in counter mode, HMAC-SHA1,
// both together as a reader runs them, and the per-entry key derivation
// (PBKDF2-HMAC-SHA1, 1000 iterations, 66 bytes for AES-256). Our kernels
// run portable and accelerated. OpenSSL's counter is big-endian where
// WinZip's is little-endian: the same work, another keystream.
#include <benchmark/benchmark.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "crypto/aes.h"
#include "crypto/hmac_sha1.h"
#include "zip/aes_cipher.h"

namespace {

using algorithm::crypto::aes;
using algorithm::crypto::sha1;

constexpr std::size_t buffer_size = 64u << 20;
// The pieces a reader hands the cipher, and the OpenSSL equivalent's
// slices between HMAC and decryption.
constexpr std::size_t piece = 65536;
constexpr std::size_t slice = 8192;

std::vector<std::uint8_t>& data() {
    static std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> v(buffer_size);
        std::mt19937_64 random(1);
        for (std::size_t i = 0; i < v.size(); i += 8) {
            std::uint64_t word = random();
            std::memcpy(&v[i], &word, 8);
        }
        return v;
    }();
    return bytes;
}

const std::uint8_t key[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const std::uint8_t salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

void processed(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

// Selects both kernels for one benchmark and restores them after it.
class kernels {
public:
    kernels(benchmark::State& state, aes::implementation a, sha1::implementation s)
        : saved_aes_(aes::active()), saved_sha1_(sha1::active()) {
        ok_ = aes::use(a) && sha1::use(s);
        if (!ok_) state.SkipWithError("kernel not available on this processor");
    }
    ~kernels() {
        aes::use(saved_aes_);
        sha1::use(saved_sha1_);
    }
    bool ok() const { return ok_; }

private:
    aes::implementation saved_aes_;
    sha1::implementation saved_sha1_;
    bool ok_;
};

constexpr auto portable = std::make_pair(aes::implementation::portable, sha1::implementation::portable);
constexpr auto accelerated = std::make_pair(aes::implementation::aes_ni, sha1::implementation::sha_ni);

void ctr_ours(benchmark::State& state, std::pair<aes::implementation, sha1::implementation> which) {
    kernels chosen(state, which.first, which.second);
    if (!chosen.ok()) return;
    const aes cipher(key, sizeof key);
    for (auto _ : state) {
        algorithm::crypto::aes_ctr counter(cipher);
        for (std::size_t at = 0; at < buffer_size; at += piece) counter.apply(data().data() + at, piece);
        benchmark::ClobberMemory();
    }
    processed(state, buffer_size);
}

void ctr_openssl(benchmark::State& state) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    const std::uint8_t iv[16] = {1};
    for (auto _ : state) {
        EVP_EncryptInit_ex(context, EVP_aes_256_ctr(), nullptr, key, iv);
        int out = 0;
        for (std::size_t at = 0; at < buffer_size; at += piece)
            EVP_EncryptUpdate(context, data().data() + at, &out, data().data() + at, static_cast<int>(piece));
        benchmark::ClobberMemory();
    }
    EVP_CIPHER_CTX_free(context);
    processed(state, buffer_size);
}

void hmac_ours(benchmark::State& state, std::pair<aes::implementation, sha1::implementation> which) {
    kernels chosen(state, which.first, which.second);
    if (!chosen.ok()) return;
    algorithm::crypto::hmac_sha1 mac(key, sizeof key);
    for (auto _ : state) {
        for (std::size_t at = 0; at < buffer_size; at += piece) mac.update(data().data() + at, piece);
        benchmark::DoNotOptimize(mac.finish());
    }
    processed(state, buffer_size);
}

// OpenSSL 3's HMAC through the EVP_MAC interface.
class openssl_hmac {
public:
    openssl_hmac() : mac_(EVP_MAC_fetch(nullptr, "HMAC", nullptr)), context_(EVP_MAC_CTX_new(mac_)) {}
    ~openssl_hmac() {
        EVP_MAC_CTX_free(context_);
        EVP_MAC_free(mac_);
    }
    void init() {
        char digest[] = "SHA1";
        const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
        EVP_MAC_init(context_, key, sizeof key, params);
    }
    void update(const std::uint8_t* bytes, std::size_t length) { EVP_MAC_update(context_, bytes, length); }
    void finish(std::uint8_t* code) {
        std::size_t length = 0;
        EVP_MAC_final(context_, code, &length, 20);
    }

private:
    EVP_MAC* mac_;
    EVP_MAC_CTX* context_;
};

void hmac_openssl(benchmark::State& state) {
    openssl_hmac mac;
    std::uint8_t code[20];
    for (auto _ : state) {
        mac.init();
        for (std::size_t at = 0; at < buffer_size; at += piece) mac.update(data().data() + at, piece);
        mac.finish(code);
        benchmark::DoNotOptimize(code);
    }
    processed(state, buffer_size);
}

// What a reader does per entry: the cipher authenticates and decrypts each
// piece in place, and the code is checked at the end.
void winzip_ours(benchmark::State& state, std::pair<aes::implementation, sha1::implementation> which) {
    kernels chosen(state, which.first, which.second);
    if (!chosen.ok()) return;
    format::zip::aes_cipher cipher("passphrase", 3, salt);
    for (auto _ : state) {
        cipher.reset();
        for (std::size_t at = 0; at < buffer_size; at += piece) cipher.decrypt(data().data() + at, piece);
        benchmark::DoNotOptimize(cipher.finish_code());
    }
    processed(state, buffer_size);
}

void winzip_openssl(benchmark::State& state) {
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    openssl_hmac mac;
    const std::uint8_t iv[16] = {1};
    std::uint8_t code[20];
    for (auto _ : state) {
        EVP_DecryptInit_ex(context, EVP_aes_256_ctr(), nullptr, key, iv);
        mac.init();
        int out = 0;
        for (std::size_t at = 0; at < buffer_size; at += slice) {
            mac.update(data().data() + at, slice);
            EVP_DecryptUpdate(context, data().data() + at, &out, data().data() + at, static_cast<int>(slice));
        }
        mac.finish(code);
        benchmark::DoNotOptimize(code);
    }
    EVP_CIPHER_CTX_free(context);
    processed(state, buffer_size);
}

// Key derivation, per entry: 66 bytes from a 16-byte salt.
constexpr std::size_t derived_length = 66;

void pbkdf2_ours(benchmark::State& state, std::pair<aes::implementation, sha1::implementation> which) {
    kernels chosen(state, which.first, which.second);
    if (!chosen.ok()) return;
    std::uint8_t out[derived_length];
    for (auto _ : state) {
        algorithm::crypto::pbkdf2_hmac_sha1("passphrase", salt, sizeof salt, 1000, out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
}

void pbkdf2_openssl(benchmark::State& state) {
    std::uint8_t out[derived_length];
    for (auto _ : state) {
        PKCS5_PBKDF2_HMAC_SHA1("passphrase", 10, salt, sizeof salt, 1000, sizeof out, out);
        benchmark::DoNotOptimize(out);
    }
}

}  // namespace

BENCHMARK_CAPTURE(ctr_ours, aes256_portable, portable)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ctr_ours, aes256_aes_ni, accelerated)->Unit(benchmark::kMillisecond);
BENCHMARK(ctr_openssl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(hmac_ours, portable, portable)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(hmac_ours, sha_ni, accelerated)->Unit(benchmark::kMillisecond);
BENCHMARK(hmac_openssl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(winzip_ours, portable, portable)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(winzip_ours, accelerated, accelerated)->Unit(benchmark::kMillisecond);
BENCHMARK(winzip_openssl)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(pbkdf2_ours, portable, portable)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(pbkdf2_ours, sha_ni, accelerated)->Unit(benchmark::kMicrosecond);
BENCHMARK(pbkdf2_openssl)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
