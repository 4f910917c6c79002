#include "frame/module_root.h"

#include "frame/port_teardown.h"
#include "link/port_view.h"

namespace tr52 {

ModuleRoot::ModuleRoot() : ports_(std::make_unique<PortView>()) {}

ModuleRoot::~ModuleRoot() {
  EndAllPorts();
  ports_.reset();
}

void ModuleRoot::EndAllPorts() {
  tr52::EndAllPorts(dialogs_, sessions_);
}

}  // namespace tr52
