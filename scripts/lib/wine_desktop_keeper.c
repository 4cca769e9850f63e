/* Holds a wine session's desktop from its start to its end (see wine_session in wine.sh).
 *
 * Wine's desktop process (explorer.exe /desktop) quits one second after its last other user has
 * gone, and the next program that needs the desktop starts it again, handing on its own standard
 * error. A test program that happens to do so leaves the desktop process holding CTest's output
 * pipe, and CTest waits for that pipe until the test's timeout, though the test itself has ended.
 * This program is started with no standard handles: it makes the desktop, so that its process has
 * none either, creates the file named on its command line once the desktop is there, and stays a
 * user of the desktop until the session's wine server ends it.
 */
#include <string.h>
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  HANDLE ready;
  char* path = commandLine;
  char* end;
  (void)instance;
  (void)previous;
  (void)show;
  if (*path == '"') { /* a path with spaces comes quoted */
    ++path;
    end = strchr(path, '"');
    if (end != NULL) *end = '\0';
  }
  if (GetDesktopWindow() == NULL) return 1;
  ready = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) return 2;
  CloseHandle(ready);
  Sleep(INFINITE);
  return 0;
}
