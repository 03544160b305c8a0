#include "driver/update_flow.h"

int main() { return RunUpdater(); }
