// libpq, loaded the first time a line database is used. Linked in, it and the TLS, Kerberos and
// LDAP libraries it needs were mapped and relocated in every station, about 4 MB resident, while
// most stations never name a line database.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace history {

// The libpq functions the line store calls.
struct Libpq {
  decltype(&::PQconnectStartParams) connectStartParams;
  decltype(&::PQconnectPoll) connectPoll;
  decltype(&::PQstatus) status;
  decltype(&::PQerrorMessage) errorMessage;
  decltype(&::PQfinish) finish;
  decltype(&::PQsetNoticeProcessor) setNoticeProcessor;
  decltype(&::PQsetnonblocking) setnonblocking;
  decltype(&::PQsocket) socket;
  decltype(&::PQsendQuery) sendQuery;
  decltype(&::PQsendQueryParams) sendQueryParams;
  decltype(&::PQflush) flush;
  decltype(&::PQconsumeInput) consumeInput;
  decltype(&::PQisBusy) isBusy;
  decltype(&::PQgetResult) getResult;
  decltype(&::PQresultStatus) resultStatus;
  decltype(&::PQresultErrorMessage) resultErrorMessage;
  decltype(&::PQntuples) ntuples;
  decltype(&::PQnfields) nfields;
  decltype(&::PQgetisnull) getisnull;
  decltype(&::PQgetvalue) getvalue;
  decltype(&::PQgetlength) getlength;
  decltype(&::PQclear) clear;
};

// The functions, the library loaded on the first call (any thread) and kept until the process
// ends; nullptr when it cannot be loaded, with `why` saying so (each call says it again).
const Libpq* LoadLibpq(std::string& why);

}  // namespace history
