// Entry point until the application object takes over: the product links and
// carries its resources, data and version, and exits at once.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return 0;
}
