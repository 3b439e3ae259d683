#pragma once

// How the system gets its QuickBooks objects, so tests can put fakes in their place.

#include <memory>

#include "platform/qb/request_processor.h"
#include "platform/qb/session_manager.h"

namespace platform::qb {

// Creates the QuickBooks integration objects. The system never constructs processors or session managers
// itself: it asks these functions, so tests can put fakes in their place (tests/support/qb/fake_quickbooks.h).
class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  virtual std::unique_ptr<RequestProcessor> CreateRequestProcessor() = 0;
  virtual std::unique_ptr<QBSessionManager> CreateSessionManager() = 0;
};

// Through the installed factory. The default one talks to the QuickBooks stand-in, the program qb-standin
// found through $QB_STANDIN, else next to the running program (or in ../bin from it), else on PATH; it raises
// kv::Error kErrCannotCreateObject (429) when the program cannot be found. The stand-in process starts at
// OpenConnection (or GetVersion) and ends at CloseConnection or when the object is released.
std::unique_ptr<RequestProcessor> CreateRequestProcessor();
std::unique_ptr<QBSessionManager> CreateSessionManager();

// The factory that talks to the stand-in.
ClassFactory& StandinClassFactory();

// Installs a factory for the lifetime of the scope and puts back the one before it at its end. The factory must
// outlive the scope. Objects already created keep working.
class ScopedClassFactory {
 public:
  explicit ScopedClassFactory(ClassFactory& factory);
  ~ScopedClassFactory();
  ScopedClassFactory(const ScopedClassFactory&) = delete;
  ScopedClassFactory& operator=(const ScopedClassFactory&) = delete;

 private:
  ClassFactory* previous_;
};

}  // namespace platform::qb
