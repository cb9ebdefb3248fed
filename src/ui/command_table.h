// The window's commands by id: the form and the main window each register
// the commands they carry out, and the menu, the buttons and the commands
// posted through the platform all run them from here.
#pragma once

#include <functional>
#include <map>

namespace velkaro::ui {

class CommandTable {
 public:
  using Handler = std::function<void()>;

  // False (and the first handler kept) when the id already has one: two
  // objects claiming one command is a mistake that must not go unnoticed
  // by silently dropping one of them.
  bool Register(int id, Handler handler);
  bool Has(int id) const;
  // Runs the id's handler; false when there is none.
  bool Dispatch(int id) const;

 private:
  std::map<int, Handler> handlers_;
};

}  // namespace velkaro::ui
