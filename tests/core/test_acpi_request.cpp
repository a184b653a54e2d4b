// The bytes of a request to the ACPI driver and the reading of its reply.
#include <gtest/gtest.h>

#include <vector>

#include "controller/acpi_request.h"

namespace {

TEST(AcpiRequestTest, DevsRequestIsSixteenExactBytes) {
  const struct {
    uint32_t state;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {ACPI_DEVICE_ON, {0x44, 0x45, 0x56, 0x53, 0x08, 0, 0, 0, 0x57, 0x00, 0x06, 0x00, 0x01, 0, 0, 0}},
      {ACPI_DEVICE_OFF, {0x44, 0x45, 0x56, 0x53, 0x08, 0, 0, 0, 0x57, 0x00, 0x06, 0x00, 0x00, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const std::vector<uint8_t> payload = AcpiDevsPayload(TBT_ACPI_DEVICE_ID, c.state);
    std::vector<uint8_t> request;
    ASSERT_TRUE(
        AcpiBuildRequest(ACPI_METHOD_DEVS, payload.data(), static_cast<uint32_t>(payload.size()), request));
    EXPECT_EQ(request, c.bytes);
  }
}

TEST(AcpiRequestTest, MethodCodeIsItsNameInOrderFromTheLowestByte) {
  const char name[4] = {'D', 'E', 'V', 'S'};
  uint32_t code = 0;
  for (int i = 3; i >= 0; --i) code = code << 8 | static_cast<uint8_t>(name[i]);
  EXPECT_EQ(code, ACPI_METHOD_DEVS);
  // FILE_DEVICE_UNKNOWN, function 0x903, METHOD_BUFFERED, FILE_ANY_ACCESS.
  EXPECT_EQ(IOCTL_QMXACPI_CALL, (0x22u << 16) | (0u << 14) | (0x903u << 2) | 0u);
}

TEST(AcpiRequestTest, RequestIsHeaderThenPayloadOfAnyLengthUpToTheCeiling) {
  const std::vector<uint32_t> lengths = {0, 1, 3, 8, 1024, ACPI_MAX_PAYLOAD};
  for (uint32_t length : lengths) {
    std::vector<uint8_t> payload(length);
    for (uint32_t i = 0; i < length; ++i) payload[i] = static_cast<uint8_t>(i * 13 + 1);
    std::vector<uint8_t> request;
    ASSERT_TRUE(AcpiBuildRequest(0x04030201, payload.data(), length, request)) << length;
    ASSERT_EQ(request.size(), length + 8u);
    EXPECT_EQ(std::vector<uint8_t>(request.begin(), request.begin() + 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(AcpiReadReply(request.data() + 4, 4), length);
    EXPECT_EQ(std::vector<uint8_t>(request.begin() + 8, request.end()), payload);
  }
}

TEST(AcpiRequestTest, MissingOrOversizedPayloadBuildsNothing) {
  std::vector<uint8_t> request = {1, 2, 3};
  EXPECT_FALSE(AcpiBuildRequest(ACPI_METHOD_DEVS, nullptr, 8, request));
  EXPECT_TRUE(request.empty());
  std::vector<uint8_t> payload(ACPI_MAX_PAYLOAD + 1);
  EXPECT_FALSE(AcpiBuildRequest(ACPI_METHOD_DEVS, payload.data(), ACPI_MAX_PAYLOAD + 1, request));
  EXPECT_FALSE(AcpiBuildRequest(ACPI_METHOD_DEVS, payload.data(), 0xFFFFFFFFu, request));
  EXPECT_TRUE(request.empty());
  // No payload at all is a valid, header-only request.
  ASSERT_TRUE(AcpiBuildRequest(ACPI_METHOD_DEVS, nullptr, 0, request));
  EXPECT_EQ(request, (std::vector<uint8_t>{0x44, 0x45, 0x56, 0x53, 0, 0, 0, 0}));
}

TEST(AcpiRequestTest, ReplyIsFourLittleEndianBytesOrZero) {
  const uint8_t bytes[6] = {0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF};
  const struct {
    uint32_t length;
    uint32_t value;
  } cases[] = {{0, 0}, {1, 0}, {3, 0}, {4, 0x12345678}, {6, 0x12345678}};
  for (const auto& c : cases) EXPECT_EQ(AcpiReadReply(bytes, c.length), c.value) << c.length;
  EXPECT_EQ(AcpiReadReply(nullptr, 4), 0u);
}

}  // namespace
