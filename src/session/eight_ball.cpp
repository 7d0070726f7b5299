#include "session/eight_ball.h"

#include "net/message.h"
#include "paint/random.h"

namespace {

const char* const GENERAL[] = {
    "Signs point to yes.",     "Yes.",
    "Reply hazy, try again.",  "Without a doubt.",
    "My sources say no.",      "As I see it, yes.",
    "You may rely on it.",     "Concentrate and ask again.",
    "Outlook not so good.",    "It is decidedly so.",
    "Better not tell you now.", "Very doubtful.",
    "Yes - definitely.",       "It is certain.",
    "Cannot predict now.",     "Most likely.",
    "Ask again later.",        "My reply is no.",
    "Outlook good.",           "Don't count on it.",
    "Yes, in due time.",       "My sources say no.",
    "Definitely not.",         "You will have to wait.",
    "I have my doubts.",       "Outlook so so.",
    "Looks good to me!",       "Who knows?",
    "Probably.",               "Are you kidding?",
    "Go for it!",              "Don't bet on it.",
    "Forget about it.",
};

const char* const SIZE[] = {
    "Fairly small.",
    "Larger than your puny mind can comprehend.",
    "Smaller than average",
    "Big enough, any larger would complicate matters.",
    "Of average size.",
    "Too small to be of any real use.",
    "It's not the size that counts, it's how you use it.",
    "It's a matter of personal preference.",
};

const char* const COLOUR[] = {
    "Red, with blue spots.",
    "All the colours of the rainbow, and then some.",
    "Several super-intelligent shades of the color blue.",
    "Plain boring white.",
    "Black as night.",
    "A nice earthy shade of brown.",
    "A healthy shade of green.",
    "Depends on the lighting conditions.",
    "I think I may be colour blind.",
    "Yellow, with green stripes.",
    "Pink. No wait! Blue!",
};

const char* const WHERE[] = {
    "Behind you!",
    "Under your bed.",
    "Somewhere beneath Manhattan.",
    "Beyond the stars.",
    "Deep under the ocean.",
    "It was lost when Atlantas sank.",
    "Check behind your ears.",
    "It's probably under the sofa cushion with your lost change.",
    "Your neighbor 'borrowed' it.",
    "Did you check the lost and found box?",
    "It's somewhere around here.",
    "Sorry, it's lost forever.",
    "I don't think you'll ever find it.",
};

const char* const WHEN[] = {
    "Not in this lifetime.",
    "Tomorrow, maybe later.",
    "Very soon",
    "Probably never.",
    "Within the next several minutes.",
    "Possibly next week.",
    "It's going to be a few more decades, sorry.",
    "You missed it, it already happened!",
    "Five minutes ago.",
    "Yesterday.",
    "Right this very instant!",
};

const char* const NUMBER[] = {
    "The answer it most definitely 42.",
    "One. No more, no less.",
    "Sorry, they're all out.",
    "Enough for a small meal.",
    "Two or three. Possibly Four. Five at the most.",
    "Several dozen.",
    "Seventeen billion at least.",
    "More than you could possibly imagine.",
    "Not too many.",
    "Not nearly enough.",
    "As many as you want.",
    "A couple.",
};

template <int N>
constexpr EightBallTable table(const char* const (&answers)[N]) {
  return EightBallTable{answers, N};
}

struct Keyword {
  const char* word;
  EightBallTopic topic;
};

const Keyword KEYWORDS[] = {
    {"big", EIGHT_BALL_SIZE},     {"small", EIGHT_BALL_SIZE},   {"size", EIGHT_BALL_SIZE},
    {"colour", EIGHT_BALL_COLOUR}, {"color", EIGHT_BALL_COLOUR}, {"hue", EIGHT_BALL_COLOUR},
    {"when", EIGHT_BALL_WHEN},    {"where", EIGHT_BALL_WHERE},  {"number", EIGHT_BALL_NUMBER},
    {"many", EIGHT_BALL_NUMBER},
};

}  // namespace

const EightBallTable EightBall[EIGHT_BALL_TOPICS] = {
    table(GENERAL), table(SIZE), table(COLOUR), table(WHEN), table(WHERE), table(NUMBER),
};

EightBallTopic eight_ball_topic(const char* const* words, int count) {
  for (int i = 0; i < count; ++i)
    for (const Keyword& k : KEYWORDS)
      if (ascii_equal_nocase(words[i], k.word)) return k.topic;
  return EIGHT_BALL_GENERAL;
}

const char* eight_ball_answer(const char* const* words, int count) {
  if (count == 0) return "How can I answer if you don't know the question?";
  const EightBallTopic topic = eight_ball_topic(words, count);
  const uint32_t r = nextRandom();
  // The size table is indexed by the low three bits, the others by remainder.
  const uint32_t index = topic == EIGHT_BALL_SIZE ? (r & 7u) : r % EightBall[topic].count;
  return EightBall[topic].answers[index];
}
