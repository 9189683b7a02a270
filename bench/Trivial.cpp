// The smallest GUI program: what starting any program under this Wine costs,
// which the start-up benchmark subtracts from Quarry's own start.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return 0; }
