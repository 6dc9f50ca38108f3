// Requests that brought nothing new. A server can answer every request and break off before
// any byte the download does not have yet: asked again at once, it would be asked without
// end. Every such request is noted here; the whole program makes at most
// MostFruitlessPerMinute of them in any minute, and a download waits between two of them
// as its retry loop waits between two tries. Requests that bring new bytes are never held.
#pragma once

namespace fetch {

inline constexpr int MostFruitlessPerMinute = 60;

// The pause before the next request after inRow requests in a row brought nothing (the
// retry loop's pause: 1 s, doubled each time, at most 64 s).
int fruitlessPauseMs(int inRow);

// A request ended without bringing a new byte.
void noteFruitlessRequest();
// How long until one more such request stays within the minute's count; 0 when it may go now.
int msUntilFruitlessAllowed();
// Forgets the requests noted (tests).
void forgetFruitlessRequests();

}  // namespace fetch
