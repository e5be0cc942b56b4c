// Idles until a signal ends it. Tests copy it under other names (node, java)
// and start it with arguments it never reads.
#include <unistd.h>

int main()
{
    for (;;) ::pause();
}
