// The library's exception hierarchy. Every class reports its own name through ClassName(),
// because the export's guard writes the class name into the message it hands to the host.
#pragma once

#include <exception>
#include <string>

#include "Text.h"

class Exception : public std::exception {
 public:
  explicit Exception(UnicodeString message);
  // UTF-8 message text (literals and texts built with fmt).
  explicit Exception(const char* utf8Message);
  ~Exception() override = default;
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;

  virtual const char* ClassName() const noexcept { return "Exception"; }
  // The message as UTF-8.
  const char* what() const noexcept override;

  UnicodeString Message;

 private:
  mutable std::string what_;
};

#define QZ_DECLARE_EXCEPTION(Name, Base)                                 \
  class Name : public Base {                                             \
   public:                                                               \
    using Base::Base;                                                    \
    const char* ClassName() const noexcept override { return #Name; }    \
  }

QZ_DECLARE_EXCEPTION(EConvertError, Exception);
QZ_DECLARE_EXCEPTION(EListError, Exception);
QZ_DECLARE_EXCEPTION(EStringListError, Exception);
QZ_DECLARE_EXCEPTION(EOleException, Exception);   // database and COM errors
QZ_DECLARE_EXCEPTION(EKeyError, Exception);       // DES component: key errors
QZ_DECLARE_EXCEPTION(EFileError, Exception);      // DES component: file errors
QZ_DECLARE_EXCEPTION(EInputError, Exception);     // DES component: input errors
QZ_DECLARE_EXCEPTION(EInOutError, Exception);
QZ_DECLARE_EXCEPTION(EZlibError, Exception);
QZ_DECLARE_EXCEPTION(EVariantError, Exception);
QZ_DECLARE_EXCEPTION(EArgumentError, Exception);
QZ_DECLARE_EXCEPTION(ERegistryException, Exception);
QZ_DECLARE_EXCEPTION(EOSError, Exception);
QZ_DECLARE_EXCEPTION(ESocketError, Exception);
QZ_DECLARE_EXCEPTION(EXmlError, Exception);

// The class name and message of any exception, for guards that must not let one escape.
struct ExceptionInfo {
  std::string className;
  UnicodeString message;
};
ExceptionInfo DescribeException(std::exception_ptr e);
