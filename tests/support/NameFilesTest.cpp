// A process whose tables come from name files: run on its own, since each
// table is read once per process.

#include <string>

#include <gtest/gtest.h>

#include "support/COMError.h"
#include "support/COMPtr.h"
#include "support/Diagnostics.h"
#include "tests/common/GuidText.h"
#include "tests/support/NameFileWriter.h"
#include "tests/support/VendorKeyScope.h"

using namespace oryx;

namespace {

constexpr char first[] = "{0BAD0BAD-0000-4000-8000-0000000000F1}";
constexpr char second[] = "{0BAD0BAD-0000-4000-8000-0000000000F2}";
constexpr char afterTheBadWord[] = "{0BAD0BAD-0000-4000-8000-0000000000F3}";
constexpr char addedLater[] = "{0BAD0BAD-0000-4000-8000-0000000000F4}";
constexpr char manufacturer[] = "{D5A47FA8-6D98-11D1-A21A-00A0C9223196}";

// Pairs may span lines; a later pair replaces an earlier name; the word that
// is no GUID (a program name the platform could resolve to a class, at that)
// ends the reading.
const std::string guidNames = std::string(first) + " ORYX_FIRST\n" + second + "\n    ORYX_SECOND\n" + first +
                              " ORYX_FIRST_RENAMED " + manufacturer + " ORYX_MANUFACTURER\n" +
                              "{00000000-0000-0000-C000-000000000046} ORYX_UNKNOWN\n" +
                              "Shell.Application ORYX_NEVER\n" + afterTheBadWord + " ORYX_NEVER_EITHER\n";

// Values with and without "0x", comments with white space and line breaks
// in them, a repeated value, and a last record that ends in its comment
// with no line break after it.
const std::string hresultNames = "8004F001 ORYX_E_FIRST \"a comment, with blanks\"\n"
                                 "0x8004F002\tORYX_E_SECOND\n"
                                 "4F003 ORYX_S_THIRD \"a comment\nover two lines\"\n"
                                 "8004F001 ORYX_E_FIRST_RENAMED\n"
                                 "8004F004 ORYX_E_LAST \"the end\"";

class NameFiles : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        VendorKeyScope::clear();
        guidPath = NameFileWriter::besideProgram("NameFilesTest-GUIDs.txt");
        hresultPath = NameFileWriter::besideProgram("NameFilesTest-HRESULTs.txt");
        DeleteFileA(guidPath.c_str());
        DeleteFileA(hresultPath.c_str());
        NameFileWriter::record(guidPath, hresultPath);
        // The files do not exist yet: a non-symbolic name that read the
        // table now would leave it empty for good, and the names below
        // would be missing.
        guidName(guidOf(first), false);
        NameFileWriter::write(guidPath, guidNames);
        NameFileWriter::write(hresultPath, hresultNames);
    }

    static void TearDownTestSuite()
    {
        VendorKeyScope::clear();
        DeleteFileA(guidPath.c_str());
        DeleteFileA(hresultPath.c_str());
    }

    static std::string guidPath;
    static std::string hresultPath;
};

std::string NameFiles::guidPath;
std::string NameFiles::hresultPath;

TEST_F(NameFiles, AreReadOnceOnFirstUseAndNamesComeFirst)
{
    EXPECT_EQ(guidName(guidOf(first), true), "ORYX_FIRST_RENAMED");
    EXPECT_EQ(guidName(guidOf(second), true), "ORYX_SECOND");
    EXPECT_EQ(guidName(guidOf(afterTheBadWord), true), afterTheBadWord)
        << "nothing after the word that is no GUID is read";
    EXPECT_EQ(guidName(guidOf(manufacturer), true), "ORYX_MANUFACTURER") << "the file wins over the patterns";
    EXPECT_EQ(guidName(IID_IUnknown, true), "ORYX_UNKNOWN") << "the file wins over the registry";
    EXPECT_EQ(guidName(IID_IUnknown, false), "{00000000-0000-0000-C000-000000000046}");

    EXPECT_EQ(describeHRESULT(static_cast<HRESULT>(0x8004F001)), "ORYX_E_FIRST_RENAMED");
    EXPECT_EQ(describeHRESULT(static_cast<HRESULT>(0x8004F002)), "ORYX_E_SECOND");
    EXPECT_EQ(describeHRESULT(static_cast<HRESULT>(0x0004F003)), "ORYX_S_THIRD");
    EXPECT_EQ(describeHRESULT(static_cast<HRESULT>(0x8004F004)), "ORYX_E_LAST");
    EXPECT_EQ(describeHRESULT(E_FAIL), "HRESULT value 80004005");

    // Names added afterwards belong to the next process.
    NameFileWriter::write(guidPath, std::string(addedLater) + " ORYX_ADDED\n");
    NameFileWriter::write(hresultPath, "8004F005 ORYX_E_ADDED\n");
    EXPECT_EQ(guidName(guidOf(addedLater), true), addedLater);
    EXPECT_EQ(guidName(guidOf(second), true), "ORYX_SECOND");
    EXPECT_EQ(describeHRESULT(static_cast<HRESULT>(0x8004F005)), "HRESULT value 8004f005");
}

TEST_F(NameFiles, GiveTheTextsOfErrors)
{
    EXPECT_STREQ(COMError(static_cast<HRESULT>(0x8004F004), "Can't stop").what(), "Can't stop: ORYX_E_LAST");
    EXPECT_STREQ(COMError(static_cast<HRESULT>(0x8004F002)).what(), "ORYX_E_SECOND");
    try {
        checkResult(static_cast<HRESULT>(0x8004F001), "Can't render");
        FAIL() << "nothing raised";
    } catch (const COMError& e) {
        EXPECT_STREQ(e.what(), "Can't render: ORYX_E_FIRST_RENAMED");
    }
}

} // namespace
