#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

// Every failure the system raises, with its codes and texts. A failure's
// Message() is the exact text the window shows; a failure of the system
// also carries, apart from that text, the file it concerns, the operation
// and the system's error number, so that a front end can word it itself.
namespace trimeld {

/// What was being done to a file when the system refused.
enum class TOperation { None, Open, Create, Read, Write, Close };

struct TFailureDetail {
    std::u16string fileName; ///< as given; empty for none or standard output
    TOperation operation = TOperation::None;
    int systemError = 0; ///< the errno value, 0 when the system reported none
};

/// The base of every failure. what() holds Message() as UTF-8.
class TTrimeldError : public std::runtime_error {
public:
    explicit TTrimeldError(std::u16string message, TFailureDetail detail = {});
    [[nodiscard]] const std::u16string& Message() const noexcept { return message; }
    [[nodiscard]] const TFailureDetail& Detail() const noexcept { return detail; }
    /// Names the file of a failure raised where only a stream was known.
    void SetFileName(std::u16string fileName) { detail.fileName = std::move(fileName); }

private:
    std::u16string message;
    TFailureDetail detail;
};

/// The trapped floating-point conditions.
enum class TFloatCondition { InvalidOperation, DivisionByZero, Overflow };

/// "Invalid floating point operation", "Floating point division by zero" or
/// "Floating point overflow".
class TFloatError : public TTrimeldError {
public:
    explicit TFloatError(TFloatCondition condition);
    [[nodiscard]] TFloatCondition Condition() const noexcept { return condition; }

private:
    TFloatCondition condition;
};

/// The I/O failure's own codes. They are kept apart from the system's error
/// numbers, which an I/O failure of the system carries instead.
inline constexpr std::int32_t cIO_INVALID_NAME = 3;      ///< "Invalid file name - %s"
inline constexpr std::int32_t cIO_READ_BEYOND_END = 100; ///< "Read beyond end of file"
inline constexpr std::int32_t cIO_NOT_OPEN = 103;        ///< a write with no open file

/// The I/O failure: a code and the text chosen by it.
class TIoError : public TTrimeldError {
public:
    /// Code 3: a file name too long; the text carries the name.
    [[nodiscard]] static TIoError InvalidName(std::u16string_view fileName);
    /// Code 103: a write to a file that is not open. detail says why it is
    /// not (the failed creation), when that is known.
    [[nodiscard]] static TIoError NotOpen(TFailureDetail detail = {});
    /// A read, write or close refused by the system: the code is its errno.
    [[nodiscard]] static TIoError System(TOperation operation, std::u16string fileName, int error);

    [[nodiscard]] std::int32_t Code() const noexcept { return code; }
    /// True when the code is an errno value rather than one of the own codes.
    [[nodiscard]] bool FromSystem() const noexcept { return fromSystem; }

private:
    TIoError(std::int32_t ioCode, bool isSystem, std::u16string text, TFailureDetail failureDetail);
    std::int32_t code;
    bool fromSystem;
};

/// The text of one of the I/O failure's own codes (the name fills code 3).
[[nodiscard]] std::u16string IoCodeText(std::int32_t code, std::u16string_view fileName = {});

/// The failure of opening the STL file: "Cannot open file "%s". %s", with the
/// full path and the system's text for the error.
class TFileOpenError : public TTrimeldError {
public:
    TFileOpenError(std::u16string_view fileName, int error);
    [[nodiscard]] int Code() const noexcept { return Detail().systemError; }
};

/// The text shown for running out of memory.
inline constexpr std::u16string_view cOUT_OF_MEMORY_TEXT = u"Out of memory";

/// The text a front end shows for any failure that reaches it: the message
/// of the system's own failures, "Out of memory" for an allocation failure,
/// the library's text for anything else.
[[nodiscard]] std::u16string FailureText(const std::exception& failure);

} // namespace trimeld
