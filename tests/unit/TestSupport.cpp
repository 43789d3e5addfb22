#include "TestSupport.h"

namespace test {

// Written out here, word for word, independently of the loader's own copies.
const char* const kTextPackageDamaged =
    "An error occurred while trying to read the setup package.  It has most likely been damaged.  Please obtain a "
    "new copy from the vendor.";
const char* const kTextTruncated =
    "The setup package has been truncated.  You most likely have an incomplete download.  Try downloading it again.";
const char* const kTextTempCopy =
    "An error occurred while trying to create a temporary copy of the setup package.  Please make sure that you have "
    "sufficient access rights to this computer to install software and that the Windows TEMP folder can be written "
    "to.  You can make this installer use a different folder for its temporary files using the /temp command line "
    "parameter followed by the path to a folder you can write to and run applications from.";
const char* const kTextLaunch =
    "The temporary copy of the setup package could not be executed.  Your system may have a software restriction "
    "policy in place that blocks executables in the temporary files folder.  You can make this installer use a "
    "different folder for its temporary files using the /temp command line parameter followed by the path to a "
    "folder you can write to and run applications from.";

void ExpectFatal(const Outcome& o, const char* text, const std::string& caption) {
  ASSERT_FALSE(o.crashed);
  ASSERT_EQ(o.boxes.size(), 1u);
  EXPECT_EQ(o.boxes[0].text, text);
  EXPECT_EQ(o.boxes[0].caption, caption);
  EXPECT_TRUE(o.boxes[0].ownerNull);
  EXPECT_EQ(o.boxes[0].style, 0x10u);
  EXPECT_TRUE(o.exited);
  EXPECT_EQ(o.exitCode, 0u);
}

}  // namespace test
