#pragma once
#include <stdexcept>
#include <string>

// Failures of the runtime carry a class name and print as "Name: message".
class Exception : public std::runtime_error {
public:
    Exception(std::string className, const std::string& message)
        : std::runtime_error(message), F_ClassName(std::move(className)) {}
    const std::string& ClassName() const { return F_ClassName; }
    std::string Message() const { return what(); }

private:
    std::string F_ClassName;
};

// The silent abort: every fatal error raises it after printing its message.
class EAbort : public Exception {
public:
    EAbort() : Exception("EAbort", "Operation aborted") {}
};

class EInOutError : public Exception {
public:
    explicit EInOutError(const std::string& m) : Exception("EInOutError", m) {}
};

class EZeroDivide : public Exception {
public:
    explicit EZeroDivide(const std::string& m) : Exception("EZeroDivide", m) {}
};

class EInvalidOp : public Exception {
public:
    explicit EInvalidOp(const std::string& m) : Exception("EInvalidOp", m) {}
};

class EOverflow : public Exception {
public:
    explicit EOverflow(const std::string& m) : Exception("EOverflow", m) {}
};

class EDivByZero : public Exception {
public:
    explicit EDivByZero(const std::string& m) : Exception("EDivByZero", m) {}
};

class EIntOverflow : public Exception {
public:
    explicit EIntOverflow(const std::string& m) : Exception("EIntOverflow", m) {}
};

// File-layer failures: a file that cannot be created, a write that failed.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const std::string& m) : Exception("EFCreateError", m) {}
};

class EWriteError : public Exception {
public:
    explicit EWriteError(const std::string& m) : Exception("EWriteError", m) {}
};

// An index or range outside the object it addresses.
class ERangeError : public Exception {
public:
    explicit ERangeError(const std::string& m) : Exception("ERangeError", m) {}
};

// A fault of the assembler, not of the source: its own records used against
// their rules.
class EInternalError : public Exception {
public:
    explicit EInternalError(const std::string& m) : Exception("EInternalError", m) {}
};
