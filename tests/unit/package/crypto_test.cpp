// Known answers of the digest and the cipher the package relies on.
#include "platform/crypto.h"

#include <gtest/gtest.h>

#include "package/dz_decryptor.h"

#include <cstring>
#include <numeric>
#include <vector>

namespace tr52 {
namespace {

TEST(Md5Test, KnownDigests) {
  EXPECT_EQ(Md5Hex(Md5::Of("", 0)), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(Md5Hex(Md5::Of("abc", 3)), "900150983cd24fb0d6963f7d28e17f72");
  const char* fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Md5Hex(Md5::Of(fox, std::strlen(fox))), "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Md5Test, StreamingEqualsOneShotAndRestartsAfterFinal) {
  std::vector<uint8_t> data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  Md5 m;
  m.Update(data.data(), 1);
  m.Update(data.data() + 1, 65535);
  m.Update(data.data() + 65536, data.size() - 65536);
  EXPECT_EQ(m.Final(), Md5::Of(data.data(), data.size()));
  m.Update("abc", 3);
  EXPECT_EQ(Md5Hex(m.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Rc4Test, KnownKeyStreamAndReset) {
  const uint8_t key[] = {'K', 'e', 'y'};
  Rc4 rc4(key, sizeof key);
  uint8_t text[] = {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
  rc4.Apply(text, sizeof text);
  const uint8_t expected[] = {0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3};
  EXPECT_EQ(0, std::memcmp(text, expected, sizeof text));
  rc4.Reset();
  rc4.Apply(text, sizeof text);
  EXPECT_EQ(0, std::memcmp(text, "Plaintext", 9)) << "reset restarts the key stream";
}

}  // namespace
}  // namespace tr52

namespace tr52 {
namespace {

// The package cipher: every chunk, whatever its length and whichever came before, is XORed
// with the key stream of RC4 keyed by MD5 of the pass phrase, from its start.
TEST(DzDecryptorTest, EveryChunkStartsTheKeyStreamAfresh) {
  const Md5Digest key = Md5::Of("cOrAlMoTh", 9);
  DzDecryptor decryptor;
  const size_t sizes[] = {0, 1, 7, 8, 9, 16384, 3, 40000, 16385, 5};  // 40000 passes a chunk
  for (const size_t size : sizes) {
    SCOPED_TRACE(size);
    std::vector<uint8_t> data(size);
    std::iota(data.begin(), data.end(), static_cast<uint8_t>(size));
    std::vector<uint8_t> expected = data;
    Rc4 rc4(key.data(), key.size());
    rc4.Apply(expected.data(), expected.size());
    decryptor.DecryptChunk(data.data(), data.size());
    EXPECT_EQ(data, expected);
  }
}

}  // namespace
}  // namespace tr52
