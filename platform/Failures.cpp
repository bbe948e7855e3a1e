#include "platform/Failures.h"

#include "platform/Files.h"
#include "platform/Unicode.h"

#include <cerrno>
#include <new>

namespace trimeld {
namespace {

std::u16string FloatText(TFloatCondition condition) {
    switch (condition) {
    case TFloatCondition::InvalidOperation:
        return u"Invalid floating point operation";
    case TFloatCondition::DivisionByZero:
        return u"Floating point division by zero";
    case TFloatCondition::Overflow:
        break;
    }
    return u"Floating point overflow";
}

std::u16string GenericIoText(std::int32_t code) {
    return u"I/O error " + platform::IntToText(code);
}

// The texts of system errors are keyed by the meaning of the errno value.
std::u16string SystemIoText(int error) {
    switch (error) {
    case ENOENT:
        return u"The specified file was not found";
    case EMFILE:
        return u"Too many open files";
    case EACCES:
        return u"File access denied";
    default:
        return GenericIoText(error);
    }
}

} // namespace

TTrimeldError::TTrimeldError(std::u16string text, TFailureDetail failureDetail)
    : std::runtime_error(platform::ToUtf8(text)), message(std::move(text)),
      detail(std::move(failureDetail)) {}

TFloatError::TFloatError(TFloatCondition floatCondition)
    : TTrimeldError(FloatText(floatCondition)), condition(floatCondition) {}

std::u16string IoCodeText(std::int32_t code, std::u16string_view fileName) {
    switch (code) {
    case cIO_INVALID_NAME:
        return u"Invalid file name - " + platform::DisplayName(fileName);
    case cIO_READ_BEYOND_END:
        return u"Read beyond end of file";
    default:
        return GenericIoText(code);
    }
}

TIoError::TIoError(std::int32_t ioCode, bool isSystem, std::u16string text,
                   TFailureDetail failureDetail)
    : TTrimeldError(std::move(text), std::move(failureDetail)), code(ioCode), fromSystem(isSystem) {
}

TIoError TIoError::InvalidName(std::u16string_view fileName) {
    return {cIO_INVALID_NAME,
            false,
            IoCodeText(cIO_INVALID_NAME, fileName),
            {std::u16string(fileName), TOperation::Create, ENAMETOOLONG}};
}

TIoError TIoError::NotOpen(TFailureDetail detail) {
    return {cIO_NOT_OPEN, false, IoCodeText(cIO_NOT_OPEN), std::move(detail)};
}

TIoError TIoError::System(TOperation operation, std::u16string fileName, int error) {
    return {error, true, SystemIoText(error), {std::move(fileName), operation, error}};
}

TFileOpenError::TFileOpenError(std::u16string_view fileName, int error)
    : TTrimeldError(u"Cannot open file \"" +
                        platform::DisplayName(platform::ExpandFileName(fileName)) + u"\". " +
                        platform::SystemErrorText(error),
                    {std::u16string(fileName), TOperation::Open, error}) {}

std::u16string FailureText(const std::exception& failure) {
    if (const auto* own = dynamic_cast<const TTrimeldError*>(&failure))
        return own->Message();
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr)
        return std::u16string(cOUT_OF_MEMORY_TEXT);
    return platform::FromUtf8(failure.what());
}

} // namespace trimeld
