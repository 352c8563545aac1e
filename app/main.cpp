#include "app/commands.h"

int main(int argc, char** argv) { return shenbao::run_command_line(argc, argv); }
