#include "app/VelmoStarter.h"
#include "platform/Win32Platform.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    velmo::Win32Platform platform;
    velmo::VelmoStarter starter(platform);
    return starter.Load() ? 0 : 1;
}
