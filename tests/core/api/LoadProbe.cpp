// Loads libservice.so and exits at once: the library's load and unload lines
// are all it writes.
#include "ServiceApi.h"

int main() {
    CSensorHandleList list; // a use of the library, so the link keeps it
    return list.m_Handles.empty() ? 0 : 1;
}
