#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "respmat/garray.h"
#include "container/varint_checked.h"
#include "test_support.h"

namespace {

using respmat::testing::contents_of;
using respmat::testing::OwnedFile;
using respmat::testing::stream_over;
using Bytes = std::vector<std::uint8_t>;

Bytes from_hex(const std::string &hex) {
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

Bytes encode_mem(std::uint32_t v) {
  std::uint8_t buffer[8] = {};
  std::uint8_t *cursor = buffer;
  varint_write_mem(v, &cursor);
  return Bytes(buffer, cursor);
}

Bytes encode_stream(std::uint32_t v) {
  OwnedFile file(std::tmpfile());
  const std::size_t accepted = varint_write_stream(v, file.get());
  const std::string written = contents_of(file.get());
  EXPECT_EQ(accepted, written.size());
  return Bytes(written.begin(), written.end());
}

// Decodes `bytes` from memory, checking how far the cursor moved.
std::uint32_t decode_mem(const Bytes &bytes, std::size_t expected_length) {
  const std::uint8_t *cursor = bytes.data();
  const std::uint32_t v = varint_read_mem(&cursor);
  EXPECT_EQ(static_cast<std::size_t>(cursor - bytes.data()), expected_length);
  return v;
}

std::uint32_t decode_stream(const Bytes &bytes) {
  auto stream = stream_over(std::string(bytes.begin(), bytes.end()));
  return varint_read_stream(stream.get());
}

std::ifstream open_vectors(const char *name) {
  std::ifstream in(std::string(RESPMAT_CONTAINER_TESTDATA_DIR) + "/varint/" + name);
  EXPECT_TRUE(in.is_open()) << name;
  return in;
}

TEST(Varint, TableValuesEncodeToExactlyTheirBytesBothWays) {
  const std::vector<std::pair<std::uint32_t, Bytes>> table = {
      {0, {0x80}},
      {1, {0x81}},
      {127, {0xFF}},
      {128, {0x00, 0x81}},
      {300, {0x2C, 0x82}},
      {16383, {0x7F, 0xFF}},
      {16384, {0x00, 0x00, 0x81}},
      {268435455, {0x7F, 0x7F, 0x7F, 0xFF}},
      {268435456, {0x00, 0x00, 0x00, 0x00, 0x81}},
      {4294967295u, {0x7F, 0x7F, 0x7F, 0x7F, 0x8F}},
  };
  for (const auto &[value, bytes] : table) {
    SCOPED_TRACE(value);
    EXPECT_EQ(encode_mem(value), bytes);
    EXPECT_EQ(encode_stream(value), bytes);
    EXPECT_EQ(decode_mem(bytes, bytes.size()), value);
    EXPECT_EQ(decode_stream(bytes), value);
  }
}

TEST(Varint, PublicVectorsRoundTrip) {
  std::ifstream in = open_vectors("varint32-vectors.txt");
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::uint32_t value;
    std::string hex8, leb128, ours;
    fields >> value >> hex8 >> leb128 >> ours;
    SCOPED_TRACE(line);
    const Bytes bytes = from_hex(ours);
    EXPECT_EQ(encode_mem(value), bytes);
    EXPECT_EQ(encode_stream(value), bytes);
    EXPECT_EQ(decode_mem(bytes, bytes.size()), value);
    EXPECT_EQ(decode_stream(bytes), value);
    ++rows;
  }
  EXPECT_EQ(rows, 230);
}

TEST(Varint, ReadersAcceptNonMinimalAndOverWideForms) {
  std::ifstream in = open_vectors("varint32-decode-only.txt");
  std::string hex;
  std::uint32_t value;
  int rows = 0;
  while (in >> hex >> value) {
    SCOPED_TRACE(hex);
    const Bytes bytes = from_hex(hex);
    EXPECT_EQ(decode_mem(bytes, bytes.size()), value);
    EXPECT_EQ(decode_stream(bytes), value);
    ++rows;
  }
  EXPECT_EQ(rows, 8);
}

TEST(Varint, StreamEndingInsideANumberEndsIt) {
  auto stream = stream_over("\x01\x02");
  EXPECT_EQ(varint_read_stream(stream.get()), 1u | 2u << 7);
  EXPECT_EQ(varint_read_stream(stream.get()), 0u);

  auto again = stream_over("\x01\x02");
  std::uint32_t value = 7;
  EXPECT_FALSE(respmat::detail::varint_read_stream_checked(again.get(), &value));
}

TEST(Varint, ReadersStopAfterFiveBytesWithoutAFinalByte) {
  const Bytes six = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x81};
  EXPECT_EQ(decode_mem(six, 5), 1u);

  auto stream = stream_over(std::string(six.begin(), six.end()));
  std::uint32_t value;
  EXPECT_FALSE(respmat::detail::varint_read_stream_checked(stream.get(), &value));
  EXPECT_EQ(std::ftell(stream.get()), 5);

  const std::uint8_t *cursor = six.data();
  EXPECT_FALSE(respmat::detail::varint_read_mem_checked(&cursor, six.size(), &value));
}

TEST(Varint, StreamWriterReportsARefusedWrite) {
  respmat::testing::TempDir dir;
  const std::string path = dir.file("read-only");
  respmat::testing::write_bytes(path, "");
  OwnedFile file(std::fopen(path.c_str(), "rb"));
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(varint_write_stream(300, file.get()), 0u);
}

TEST(Varint, EveryValueRoundTripsInAtMostFiveBytes) {
  if (!RESPMAT_EXHAUSTIVE_TESTS) GTEST_SKIP() << "enable RESPMAT_EXHAUSTIVE_TESTS";
  std::uint8_t buffer[8];
  std::uint32_t v = 0;
  do {
    std::uint8_t *end = buffer;
    varint_write_mem(v, &end);
    const std::uint8_t *cursor = buffer;
    const std::uint32_t back = varint_read_mem(&cursor);
    if (back != v || cursor != end || end - buffer > 5) FAIL() << v;
  } while (++v != 0);
}

TEST(Zigzag, MapsPublicVectorsBothWays) {
  std::ifstream in = open_vectors("zigzag32-vectors.txt");
  std::int32_t s;
  std::uint32_t u;
  int rows = 0;
  while (in >> s >> u) {
    EXPECT_EQ(zigzag_encode(s), u) << s;
    EXPECT_EQ(zigzag_decode(u), s) << u;
    ++rows;
  }
  EXPECT_EQ(rows, 65);
  const std::int32_t small[] = {0, -1, 1, -2, 63, -64, 64};
  const std::uint32_t mapped[] = {0, 1, 2, 3, 126, 127, 128};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(zigzag_encode(small[i]), mapped[i]);
  EXPECT_EQ(zigzag_decode(4294967295u), INT32_MIN);
  EXPECT_EQ(zigzag_encode(INT32_MAX), 4294967294u);
}

}  // namespace
