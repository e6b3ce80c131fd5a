// The URL, IP address, escaping and URL-building tools, checked against python3's urllib and
// ipaddress modules where an outside answer exists.
#include "qzNet.h"

#include <gtest/gtest.h>

#include "Exceptions.h"

namespace {

TEST(NetEncodingMap, MapsEachOfTheSevenByPositionAndRefusesOthers) {
  const TqzEncoding encodings[] = {qzENC_None, qzENC_Base64,  qzENC_Strong,  qzENC_Mega,
                                   qzENC_KQF,  qzENC_Service, qzENC_Internal};
  const TqzCipherEncoding ciphers[] = {qzCIPHENC_None, qzCIPHENC_Base64,  qzCIPHENC_Strong,
                                       qzCIPHENC_Mega, qzCIPHENC_KQF,     qzCIPHENC_Service,
                                       qzCIPHENC_Internal};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(EncodingToCipherEncoding(encodings[i]), ciphers[i]);
    EXPECT_EQ(CipherEncodingToEncoding(ciphers[i]), encodings[i]);
  }
  EXPECT_THROW(EncodingToCipherEncoding(static_cast<TqzEncoding>(7)), Exception);
  EXPECT_THROW(CipherEncodingToEncoding(static_cast<TqzCipherEncoding>(-1)), Exception);
  try {
    EncodingToCipherEncoding(static_cast<TqzEncoding>(9));
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "invalid encoding");
  }
}

}  // namespace
