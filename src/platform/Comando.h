#pragma once
// The media control's commands. A misspelt command is a compile error, not
// an error box at run time.

namespace sonora {

enum class Comando { Open, Close, CloseAll, Play, Sound };

// The names the handlers use: comando::Close reads like the command itself.
namespace comando {
inline constexpr Comando Open = Comando::Open;
inline constexpr Comando Close = Comando::Close;
inline constexpr Comando CloseAll = Comando::CloseAll;
inline constexpr Comando Play = Comando::Play;
inline constexpr Comando Sound = Comando::Sound;
} // namespace comando

} // namespace sonora
