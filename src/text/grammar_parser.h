// A small table-driven bottom-up (left-corner) parser over integer symbols.
// A grammar is a list of productions; the parser consumes symbols one at a
// time and calls the action object whenever a production completes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "text/stacks.h"

namespace vna {

constexpr int kEndSymbol = 18;  // end of every production, of input, and of a parse
constexpr int kSymbolCount = 18;

struct Production;

struct ProductionNode {
  int32_t symbol;
  ProductionNode* next;         // none for an end node
  ProductionNode* alternative;  // none if last at its level
  const Production* owner;
};

struct Production {
  int action;  // 0: none; otherwise passed to GrammarActions::perform
  uint16_t length;
  int result;
};

struct ProductionRule {
  int result;
  std::initializer_list<int> symbols;
  int action;
};

// Productions inserted in order into one trie per first symbol; the order
// decides which alternative is tried first. Built once, read-only after.
class Grammar {
 public:
  explicit Grammar(std::initializer_list<ProductionRule> productions);
  Grammar(const Grammar&) = delete;
  Grammar& operator=(const Grammar&) = delete;
  ProductionNode* entry(int symbol) const {
    return symbol >= 0 && symbol < kSymbolCount ? table_[symbol] : nullptr;
  }

 private:
  std::vector<std::unique_ptr<Production>> productions_;
  std::vector<std::unique_ptr<ProductionNode>> nodes_;
  ProductionNode* table_[kSymbolCount] = {};
};

class GrammarActions {
 public:
  virtual void reset() = 0;
  virtual void perform(int action) = 0;

 protected:
  ~GrammarActions() = default;
};

// Consuming a symbol is shift(symbol), then (for symbols with a value) the
// value goes onto the action object's value stack, then push(). Every
// rejection raises ParsingFailure; the parser is reset before each text.
class GrammarParser {
 public:
  GrammarParser(const Grammar& grammar, GrammarActions& actions)
      : grammar_(grammar), actions_(actions) {}
  void reset();
  void shift(int symbol);
  void push();
  void endOfInput();
  bool accepted() const { return accepted_; }
  const SegmentedStack<ProductionNode*>& stack() const { return stack_; }

 private:
  static bool isEnd(const ProductionNode* node) { return node->symbol == kEndSymbol; }
  void chooseFor(int symbol);
  ProductionNode* nextNodeFor(int symbol);
  void reduce();
  void reduceWhileComplete();

  const Grammar& grammar_;
  GrammarActions& actions_;
  ProductionNode* pending_ = nullptr;
  bool accepted_ = false;
  bool endSeen_ = false;
  SegmentedStack<ProductionNode*> stack_;
};

}  // namespace vna
