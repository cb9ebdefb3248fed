// Velkaro's entry point.
#include "ui/app.h"

int main(int argc, char* argv[]) {
  return velkaro::ui::RunApplication(argc, argv);
}
