// The magic 8 ball of the chat commands: six answer tables and the keyword
// rule that picks one of them.
#pragma once

struct EightBallTable {
  const char* const* answers;
  int count;
};

enum EightBallTopic {
  EIGHT_BALL_GENERAL,
  EIGHT_BALL_SIZE,
  EIGHT_BALL_COLOUR,
  EIGHT_BALL_WHEN,
  EIGHT_BALL_WHERE,
  EIGHT_BALL_NUMBER,
  EIGHT_BALL_TOPICS
};

extern const EightBallTable EightBall[EIGHT_BALL_TOPICS];

// The table the first keyword among the words chooses; general without one.
EightBallTopic eight_ball_topic(const char* const* words, int count);

// The line the 8 ball answers to the question words: one entry of the chosen
// table picked with the selected random stream, or the complaint about a
// missing question (which draws no random number).
const char* eight_ball_answer(const char* const* words, int count);
