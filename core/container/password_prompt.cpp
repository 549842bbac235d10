#include "core/container/password_prompt.h"

#include "core/container/crc16.h"
#include "core/driver/archive_session.h"
#include "core/driver/console.h"

void PromptPassword() {
    ArchiveSession& s = gSession;
    for (int tries = 0; tries < 3; tries++) {
        ConsoleWriteText("Password : ");
        ConsoleFlush();
        ConsoleReadLine(&s.password);
        // An empty line passes only when the check value is 0; the data are
        // then descrambled by the shift register alone.
        if (Crc16Of((const uint8_t*)ByteStringText(&s.password), s.password.length) == s.passwordCheck)
            return;
    }
    EndProcess(1);
}
