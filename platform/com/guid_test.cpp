#include <gtest/gtest.h>

#include <string>

#include "objbase.h"

namespace {

DEFINE_GUID(CLSID_Sample, 0x6706A55F, 0xAE71, 0x4B5E, 0x95, 0x11, 0x45, 0x6E, 0x04, 0x25, 0x53, 0xF8);

TEST(GuidText, FormatsAndParsesTheBracedForm) {
  WCHAR text[39];
  ASSERT_EQ(StringFromGUID2(CLSID_Sample, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{6706A55F-AE71-4B5E-9511-456E042553F8}");
  EXPECT_EQ(StringFromGUID2(CLSID_Sample, text, 38), 0);
  GUID g;
  ASSERT_EQ(CLSIDFromString(u"{6706a55f-ae71-4b5e-9511-456e042553f8}", &g), S_OK);
  EXPECT_EQ(g, CLSID_Sample);
  for (const char16_t* bad : {u"6706A55F-AE71-4B5E-9511-456E042553F8", u"{6706A55F-AE71-4B5E-9511-456E042553F}",
                              u"{6706A55G-AE71-4B5E-9511-456E042553F8}", u"{6706A55F_AE71-4B5E-9511-456E042553F8}", u""})
    EXPECT_EQ(CLSIDFromString(bad, &g), CO_E_CLASSSTRING) << std::string(bad, bad + 1);
}

}  // namespace
