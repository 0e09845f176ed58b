// SHA-256 against the FIPS 180 examples and the block and padding edges, whole and in pieces.
#include "recfiles/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {
namespace {

constexpr std::string_view kMillionA =
    "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";

// Every byte value three times over: a text in which a byte-order slip shows.
std::string EveryByte() {
  std::string text;
  for (int round = 0; round < 3; ++round) {
    for (int b = 0; b < 256; ++b) text += static_cast<char>(b);
  }
  return text;
}

struct Vector {
  std::string text;
  std::string_view want;
};

const std::vector<Vector>& Vectors() {
  static const std::vector<Vector> kVectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 448 bits: the padding's length no longer fits the block, a second block follows
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
       "nopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      // lengths at the edges of a block and of the room for the length
      {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
      {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
      {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
      {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
      {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
      {std::string(119, 'a'), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
      {std::string(120, 'a'), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
      {EveryByte(), "f3a25aa93aa2fbba28d79260535bbd6a5eb0fc1c24a8b0f04e12b484c1dfe363"},
  };
  return kVectors;
}

TEST(Sha256, MatchesKnownDigests) {
  for (const Vector& v : Vectors()) {
    EXPECT_EQ(Sha256Hex(v.text), v.want) << v.text.size() << " bytes";
  }
}

// Any split into two pieces gives the digest of the whole: the block buffer joins them.
TEST(Sha256, SplitAnywhereGivesTheSameDigest) {
  for (const Vector& v : Vectors()) {
    const std::string_view text = v.text;
    for (size_t split = 0; split <= text.size(); ++split) {
      Sha256 hash;
      hash.Update(text.substr(0, split));
      hash.Update(text.substr(split));
      ASSERT_EQ(hash.HexDigest(), v.want) << text.size() << " bytes split at " << split;
    }
  }
}

TEST(Sha256, MillionAInUnevenPieces) {
  const std::string a(1000000, 'a');
  EXPECT_EQ(Sha256Hex(a), kMillionA);
  const size_t kPieceSizes[] = {1, 63, 64, 65, 0, 127, 4096, 3, 200000};
  Sha256 hash;
  size_t fed = 0;
  for (size_t i = 0; fed < a.size(); ++i) {
    const size_t piece = std::min(kPieceSizes[i % std::size(kPieceSizes)], a.size() - fed);
    hash.Update(std::string_view(a).substr(fed, piece));
    fed += piece;
  }
  EXPECT_EQ(hash.HexDigest(), kMillionA);
}

TEST(Sha256, StartsOverAfterADigest) {
  Sha256 hash;
  hash.Update("some earlier text");
  (void)hash.HexDigest();
  hash.Update("abc");
  EXPECT_EQ(hash.HexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hash.HexDigest(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace quillmere
