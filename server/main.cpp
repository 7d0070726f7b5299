// easel-server: the relay server of the shared board.
#include "options.h"
#include "server.h"

int main(int argc, char** argv) {
  ServerOptions options;
  int status = 0;
  if (!options_parse(&options, argc, argv, &status)) return status;
  Server server;
  if (!server_start(&server, options)) {
    server_stop(&server);
    return 1;
  }
  server_run(&server);
  server_stop(&server);
  return 0;
}
