// The password prompt of a protected archive: three tries, each line
// compared by its CRC-16/UMTS with the check value of the descriptor.
// The accepted line's bytes are then mixed into every data byte.
#pragma once

// Returns only with an accepted password in gSession.password; after the
// third wrong line the process ends with exit code 1, without a message.
void PromptPassword();
