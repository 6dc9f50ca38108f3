// Makes an Ed25519 key pair for signing description sets. The secret half goes to a file only
// its owner can read (never into a repository); the public half is printed, for the build's
// SITES_PUBLIC_KEYS, and written as a C header when asked (the demo build trusts it).
//
//   quorvin-keygen SECRET_FILE [--header FILE]
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string base64(const unsigned char *data, size_t size)
{
    std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(out.data(), out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool writeAll(const char *path, const std::string &text, int mode)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, mode_t(mode)) == 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    return ::close(fd) == 0 && ok;
}

}  // namespace

int main(int argc, char **argv)
{
    const bool header = argc == 4 && std::strcmp(argv[2], "--header") == 0;
    if ((argc != 2 && !header) || sodium_init() < 0) {
        std::fprintf(stderr, "usage: quorvin-keygen SECRET_FILE [--header FILE]\n");
        return 2;
    }
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk, sk);
    std::string secret = base64(sk, sizeof sk) + "\n";
    sodium_memzero(sk, sizeof sk);
    const bool written = writeAll(argv[1], secret, 0600);
    sodium_memzero(secret.data(), secret.size());
    const std::string pub = base64(pk, sizeof pk);
    if (!written || (header && !writeAll(argv[3], "#define DemoSiteKey \"" + pub + "\"\n", 0644))) {
        std::fprintf(stderr, "quorvin-keygen: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s\n", pub.c_str());
    return 0;
}
