#include "libpq_loader.h"

#include <dlfcn.h>

namespace history {
namespace {

// Debian's runtime package libpq5 gives this name.
constexpr char kLibrary[] = "libpq.so.5";

struct Loaded {
  Libpq api{};
  std::string why;  // empty when loaded
};

// `why` names the first function missing.
template <typename F>
void Find(void* library, const char* name, F& function, std::string& why) {
  function = reinterpret_cast<F>(::dlsym(library, name));
  if (!function && why.empty()) why = std::string(kLibrary) + " has no " + name;
}

Loaded Load() {
  Loaded loaded;
  // Never closed: libpq and the libraries under it keep thread and exit handlers of their own.
  void* library = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* error = ::dlerror();
    loaded.why = std::string("cannot load ") + kLibrary +
                 " (Debian package libpq5): " + (error ? error : "unknown error");
    return loaded;
  }
  Libpq& a = loaded.api;
  std::string& why = loaded.why;
  Find(library, "PQconnectStartParams", a.connectStartParams, why);
  Find(library, "PQconnectPoll", a.connectPoll, why);
  Find(library, "PQstatus", a.status, why);
  Find(library, "PQerrorMessage", a.errorMessage, why);
  Find(library, "PQfinish", a.finish, why);
  Find(library, "PQsetNoticeProcessor", a.setNoticeProcessor, why);
  Find(library, "PQsetnonblocking", a.setnonblocking, why);
  Find(library, "PQsocket", a.socket, why);
  Find(library, "PQsendQuery", a.sendQuery, why);
  Find(library, "PQsendQueryParams", a.sendQueryParams, why);
  Find(library, "PQflush", a.flush, why);
  Find(library, "PQconsumeInput", a.consumeInput, why);
  Find(library, "PQisBusy", a.isBusy, why);
  Find(library, "PQgetResult", a.getResult, why);
  Find(library, "PQresultStatus", a.resultStatus, why);
  Find(library, "PQresultErrorMessage", a.resultErrorMessage, why);
  Find(library, "PQntuples", a.ntuples, why);
  Find(library, "PQnfields", a.nfields, why);
  Find(library, "PQgetisnull", a.getisnull, why);
  Find(library, "PQgetvalue", a.getvalue, why);
  Find(library, "PQgetlength", a.getlength, why);
  Find(library, "PQclear", a.clear, why);
  if (!why.empty()) loaded.api = Libpq{};
  return loaded;
}

}  // namespace

const Libpq* LoadLibpq(std::string& why) {
  static const Loaded loaded = Load();
  if (!loaded.why.empty()) {
    why = loaded.why;
    return nullptr;
  }
  return &loaded.api;
}

}  // namespace history
