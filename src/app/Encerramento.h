// The end of the program asked from outside: SIGTERM (a logout, a shutdown),
// SIGINT and SIGHUP end the message loop as "Sair" does, between two events,
// so that no reading is cut in the middle of its save.
#pragma once

// Installs the handlers; false, with errno set, when they could not be.
[[nodiscard]] bool EncerrarNosSinais();
