#include <gtest/gtest.h>

#include <vector>

#include "base/errors.h"
#include "text/grammar_parser.h"

namespace vna {
namespace {

// Records the productions completed, in order.
class Recorder : public GrammarActions {
 public:
  void reset() override { done.clear(); }
  void perform(int action) override { done.push_back(action); }
  std::vector<int> done;
};

constexpr int kX = 0, kY = 1, kZ = 2, kA = 3;

// A := x y (action 1) | x (action 2); END := A (action 3)
const Grammar& twoAlternatives() {
  static const Grammar g{{kA, {kX, kY}, 1}, {kA, {kX}, 2}, {kEndSymbol, {kA}, 3}};
  return g;
}

std::vector<int> parse(std::initializer_list<int> symbols) {
  Recorder actions;
  GrammarParser parser(twoAlternatives(), actions);
  parser.reset();
  for (int s : symbols) {
    parser.shift(s);
    parser.push();
  }
  parser.endOfInput();
  EXPECT_TRUE(parser.accepted());
  return actions.done;
}

TEST(GrammarParser, EarlierAlternativeWinsWhenItsSymbolFollows) {
  EXPECT_EQ(parse({kX, kY}), (std::vector<int>{1, 3}));
  EXPECT_EQ(parse({kX}), (std::vector<int>{2, 3}));
}

TEST(GrammarParser, RejectsWhatTheGrammarCannotTake) {
  EXPECT_THROW(parse({}), ParsingFailure);
  EXPECT_THROW(parse({kY}), ParsingFailure);
  EXPECT_THROW(parse({kX, kZ}), ParsingFailure);
  EXPECT_THROW(parse({kX, kY, kX}), ParsingFailure) << "a second parse after acceptance";
}

TEST(SegmentedStack, KeepsItsEntriesAcrossChunkBoundaries) {
  SegmentedStack<int> stack;
  for (int i = 0; i < 101; ++i) stack.push(i);
  EXPECT_EQ(stack.size(), 101u);
  EXPECT_EQ(stack.at(0), 100);
  EXPECT_EQ(stack.at(1), 99) << "addressing crosses the chunk boundary";
  stack.pop(2);
  stack.push(1);
  stack.push(2);
  EXPECT_EQ(stack.size(), 101u);
  EXPECT_EQ(stack.at(0), 2);
  EXPECT_EQ(stack.at(2), 98) << "the entries below the popped ones stay";
  stack.clear();
  EXPECT_TRUE(stack.empty());
}

TEST(FixedStack, SixPushesFitTheSeventhIsFull) {
  int storage[6];
  FixedStack<int> stack(storage, storage + 6);
  for (int i = 0; i < 6; ++i) stack.push(i);
  EXPECT_THROW(stack.push(6), StackFull);
  EXPECT_EQ(stack.at(0), 5);
  EXPECT_EQ(stack.at(5), 0);
  stack.pop(2);
  EXPECT_EQ(stack.at(0), 3);
}

}  // namespace
}  // namespace vna
