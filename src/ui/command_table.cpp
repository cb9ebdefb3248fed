#include "ui/command_table.h"

#include <utility>

namespace velkaro::ui {

bool CommandTable::Register(int id, Handler handler) {
  if (!handler) return false;
  return handlers_.try_emplace(id, std::move(handler)).second;
}

bool CommandTable::Has(int id) const {
  return handlers_.find(id) != handlers_.end();
}

bool CommandTable::Dispatch(int id) const {
  const auto it = handlers_.find(id);
  if (it == handlers_.end()) return false;
  // A copy: the handler may pump events that register or run commands.
  const Handler handler = it->second;
  handler();
  return true;
}

}  // namespace velkaro::ui
