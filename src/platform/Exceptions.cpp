#include "Exceptions.h"

#include <new>

#include "CodePage.h"

Exception::Exception(UnicodeString message) : Message(std::move(message)) {}

Exception::Exception(const char* utf8Message) : Message(platform::Utf8ToWide(utf8Message ? utf8Message : "")) {}

const char* Exception::what() const noexcept {
  try {
    what_ = platform::WideToUtf8(Message);
    return what_.c_str();
  } catch (...) {
    return "Exception";
  }
}

ExceptionInfo DescribeException(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const Exception& ex) {
    return {ex.ClassName(), ex.Message};
  } catch (const std::bad_alloc&) {
    return {"EOutOfMemory", u"Out of memory"};
  } catch (const std::exception& ex) {
    return {"Exception", platform::Utf8ToWide(ex.what())};
  } catch (...) {
    return {"Exception", u"Unknown exception"};
  }
}
