#include "platform/Failures.h"

#include "platform/Unicode.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>

namespace trimeld {
namespace {

TEST(Failures, OwnCodesAndSystemErrorsAreKeptApart) {
    struct Case {
        const char* what;
        TIoError failure;
        std::int32_t code;
        bool fromSystem;
        const char* text;
    };
    const Case cases[] = {
        {"name too long", TIoError::InvalidName(u"x\xDCFF.raw"), 3, false,
         "Invalid file name - x\xef\xbf\xbd.raw"},
        {"not open", TIoError::NotOpen(), 103, false, "I/O error 103"},
        // errno 3 is ESRCH: its text is not the one of the own code 3.
        {"errno 3", TIoError::System(TOperation::Write, u"a", 3), 3, true, "I/O error 3"},
        {"no such file", TIoError::System(TOperation::Write, u"a", ENOENT), ENOENT, true,
         "The specified file was not found"},
        {"access denied", TIoError::System(TOperation::Write, u"a", EACCES), EACCES, true,
         "File access denied"},
        {"too many files", TIoError::System(TOperation::Write, u"a", EMFILE), EMFILE, true,
         "Too many open files"},
        {"disk full", TIoError::System(TOperation::Write, u"a", ENOSPC), ENOSPC, true,
         "I/O error 28"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.failure.Code(), c.code);
        EXPECT_EQ(c.failure.FromSystem(), c.fromSystem);
        EXPECT_STREQ(c.failure.what(), c.text);
    }
}

TEST(Failures, FrontEndsShowEveryFailureWithAText) {
    EXPECT_EQ(FailureText(TFloatError(TFloatCondition::Overflow)), u"Floating point overflow");
    EXPECT_EQ(FailureText(std::bad_alloc()), u"Out of memory");
    EXPECT_EQ(FailureText(std::runtime_error("plain")), u"plain");
}

} // namespace
} // namespace trimeld
