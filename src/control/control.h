// Keyboard control: key commands, pace control, information screen, editor.
#pragma once

#include <cstddef>
#include <cstdint>

// Numbered 0 to 12 in this order.
enum KeyAction {
    ACTION_NONE, ACTION_TURBO, ACTION_QUIT, ACTION_ORIGINAL_SPEED, ACTION_PAUSE,
    ACTION_STATUS_ON, ACTION_STATUS_OFF, ACTION_CLEAR, ACTION_FASTER, ACTION_SLOWER,
    ACTION_AUTO_PAUSE, ACTION_INFO, ACTION_EDITOR,
};

// keys (keys.cpp)
KeyAction poll_key();
// Drops the keys typed ahead, so that at most one key per line is a
// command. They are read and dropped, not flushed: a flush of the
// terminal's input may discard a Ctrl-C before it becomes SIGINT.
void drop_typed_keys();
KeyAction key_action_of(int key);
void handle_keys(uint32_t *speed, uint32_t initial_speed, int32_t *status_visible,
                 uint64_t total_lines, uint64_t line_no);
// Pace arithmetic of f, s and space: f and s move by a truncated quarter
// (s saturates instead of wrapping); space toggles the fast pace 1.
uint32_t pace_faster(uint32_t pace);
uint32_t pace_slower(uint32_t pace);
uint32_t pace_turbo(uint32_t pace, uint32_t adjusted_speed, uint32_t initial_speed);

// information screen (info_screen.cpp)
void show_info_screen(uint32_t speed, uint32_t initial_speed, uint64_t total_lines,
                      uint64_t line_no);
// The pace as the information screen shows it, e.g. "(1000 Milliseconds | 1.00 Second)".
void info_pace_text(char *buf, size_t size, uint32_t pace);

// editor (editor.cpp)
void choose_editor();
void launch_editor(uint64_t line_no);
// False when choose_editor found none ("None"): key e then only says so.
bool editor_chosen();
// The editor's argv[0]: the part after the last "/", or the whole text.
const char *editor_program_name(const char *editor);
