// The module's root: a second root beside the attached one shares nothing with it.
#include "frame/module_root.h"

#include <gtest/gtest.h>

#include <memory>

#include "frame/host_operations.h"
#include "frame/module_entry.h"
#include "session/download_session.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "win/window.h"

namespace tr52 {
namespace {

std::unique_ptr<DownloadSession> SessionOn(ModuleRoot& root, int port) {
  DownloadJob job;
  job.port = static_cast<uint8_t>(port);
  return std::make_unique<DownloadSession>(job, root.Images());
}

TEST(ModuleRoot, ASecondRootBesideTheAttachedOneSharesNothing) {
  tr52test::TempDir ports;
  tr52test::ScopedEnv table{"TR52_PORT_TABLE", ports.Path()};
  ModuleRoot attached;
  auto second = std::make_unique<ModuleRoot>();
  ModuleRoot* previous = ExchangeModuleRootForTesting(&attached);
  attached.Sessions().Add(SessionOn(attached, 30));
  second->Sessions().Add(SessionOn(*second, 31));
  EXPECT_NE(&attached.Ports(), &second->Ports());
  EXPECT_NE(&attached.Images(), &second->Images());

  struct Row {
    ModuleRoot* root;
    int port;
    bool held;
  };
  const Row rows[] = {{&attached, 30, true},
                      {&attached, 31, false},
                      {second.get(), 31, true},
                      {second.get(), 30, false}};
  for (const Row& row : rows)
    EXPECT_EQ(row.root->Sessions().Has(row.port), row.held)
        << (row.root == &attached ? "attached" : "second") << " root, port " << row.port;

  // The host's operations reach the attached root only: COM31 has no session there.
  win::CWnd parent;
  EXPECT_EQ(OpenProgress(&parent, 31, 0), 0);
  EXPECT_EQ(attached.Dialogs().Count(), 0u);

  // Ending the second root ends its own ports and nothing of the attached one.
  second.reset();
  EXPECT_TRUE(attached.Sessions().Has(30));
  EXPECT_EQ(attached.Sessions().Count(), 1u);
  ExchangeModuleRootForTesting(previous);
}

TEST(ModuleRoot, HostOperationsWithoutAnAttachedRootFail) {
  ModuleRoot* previous = ExchangeModuleRootForTesting(nullptr);
  win::CWnd parent;
  EXPECT_EQ(IsConnected(5), 0);
  EXPECT_EQ(IsDisconnected(5), 0);
  EXPECT_EQ(OpenProgress(&parent, 5, 0), 0);
  EXPECT_EQ(CloseProgress(&parent), 0);
  ExchangeModuleRootForTesting(previous);
}

}  // namespace
}  // namespace tr52
