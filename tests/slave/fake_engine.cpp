// A process that does nothing but stay alive until it is killed; copied to /root/dot_feeder and
// /root/dot_feeder_battery by the engine_watch tests, so the name killall sees is the file's.
#include <unistd.h>

int main() {
    for (;;) pause();
}
