#include <gtest/gtest.h>

#include "download/portable/failure_text.h"

TEST(FailureText, CallAndDecimalCodeAndNamedCertificateFlags)
{
    EXPECT_EQ(CallFailureLine("WinHttpSendRequest", 12029), "WinHttpSendRequest failed with error 12029");
    EXPECT_EQ(CallFailureLine("WriteFile", 4294967295u), "WriteFile failed with error 4294967295");
    EXPECT_EQ(SecureFailureLine(0x8), "Secure failure flags 0x00000008 (certificate authority not trusted)");
    EXPECT_EQ(SecureFailureLine(0x30),
              "Secure failure flags 0x00000030 (certificate issued for another host, certificate expired or not yet valid)");
    EXPECT_EQ(SecureFailureLine(0x80000000u), "Secure failure flags 0x80000000 (secure channel error)");
    EXPECT_EQ(SecureFailureLine(0x100), "Secure failure flags 0x00000100");
}
