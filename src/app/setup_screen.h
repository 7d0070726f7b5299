// The first-run setup screen: asks for every setting and writes the settings file.
#pragma once

// What one key did to a prompt's text.
enum PromptKeyResult { PROMPT_IGNORED = 0, PROMPT_CHANGED = 1, PROMPT_DONE = 2 };

// Applies one readkey value (scan code in bits 8..15, character in bits 0..7)
// to the zero-terminated text in buffer, which holds at most size - 1 characters.
PromptKeyResult prompt_apply_key(char* buffer, int size, int key);

// Shows the prompt on the screen and edits buffer in place until Enter (true)
// or until the program is asked to quit (false).
bool prompt_text(const char* prompt, char* buffer, int size);

// Asks one question: shows prompt and edits buffer (size bytes) until
// answered (true), or returns false when the program is to quit instead.
typedef bool (*PromptFunction)(const char* prompt, char* buffer, int size);

// Sets the defaults, asks every setting until the whole Config is valid, and
// returns config_write of path; false at once, writing nothing, when an
// answer is not given. Needs a graphics mode already set.
bool setup_screen(const char* path);
// The same questions asked through ask instead of the screen; for tests.
bool setup_screen_with(const char* path, PromptFunction ask);
