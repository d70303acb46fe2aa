#include "text/grammar_parser.h"

#include "base/errors.h"

namespace vna {

Grammar::Grammar(std::initializer_list<ProductionRule> productions) {
  for (const ProductionRule& rule : productions) {
    productions_.push_back(std::make_unique<Production>(
        Production{rule.action, static_cast<uint16_t>(rule.symbols.size()), rule.result}));
    const Production* owner = productions_.back().get();
    // The chain holds the symbols after the first, closed by an end node.
    ProductionNode* chain = nullptr;
    ProductionNode** link = &chain;
    const int* symbol = rule.symbols.begin();
    for (++symbol; symbol != rule.symbols.end(); ++symbol) {
      nodes_.push_back(std::make_unique<ProductionNode>(ProductionNode{*symbol, nullptr, nullptr, owner}));
      *link = nodes_.back().get();
      link = &(*link)->next;
    }
    nodes_.push_back(std::make_unique<ProductionNode>(ProductionNode{kEndSymbol, nullptr, nullptr, owner}));
    *link = nodes_.back().get();

    ProductionNode** slot = &table_[*rule.symbols.begin()];
    ProductionNode* inserting = chain;
    while (*slot != nullptr && (*slot)->symbol == inserting->symbol && inserting->next != nullptr) {
      // A shared prefix is stored once.
      slot = &(*slot)->next;
      inserting = inserting->next;
    }
    while (*slot != nullptr) slot = &(*slot)->alternative;
    *slot = inserting;
  }
}

void GrammarParser::reset() {
  stack_.clear();
  pending_ = nullptr;
  accepted_ = false;
  endSeen_ = false;
  actions_.reset();
}

void GrammarParser::chooseFor(int symbol) {
  // An end node earlier in the chain wins over a matching symbol later on.
  for (ProductionNode* node = stack_.top(); node != nullptr; node = node->alternative) {
    if (isEnd(node) || node->symbol == symbol) {
      stack_.top() = node;
      return;
    }
  }
}

ProductionNode* GrammarParser::nextNodeFor(int symbol) {
  if (!stack_.empty() && stack_.top()->symbol == symbol) return stack_.top()->next;
  ProductionNode* entry = grammar_.entry(symbol);
  if (entry == nullptr) throw ParsingFailure();
  return entry;
}

void GrammarParser::reduce() {
  const Production* production = stack_.top()->owner;
  if (stack_.size() < production->length) throw ParsingFailure();
  stack_.pop(production->length);
  if (production->action != 0) actions_.perform(production->action);
  if (production->result == kEndSymbol) {
    accepted_ = true;
    if (!stack_.empty()) throw ParsingFailure();
    return;
  }
  if (!stack_.empty()) chooseFor(production->result);
  stack_.push(nextNodeFor(production->result));
}

void GrammarParser::reduceWhileComplete() {
  while (!stack_.empty() && isEnd(stack_.top())) reduce();
}

void GrammarParser::shift(int symbol) {
  if (!stack_.empty()) chooseFor(symbol);
  while (!stack_.empty() && isEnd(stack_.top())) {
    reduce();
    if (!stack_.empty()) chooseFor(symbol);
  }
  if (accepted_) throw ParsingFailure();
  pending_ = nextNodeFor(symbol);
}

void GrammarParser::push() {
  stack_.push(pending_);
  pending_ = nullptr;
  reduceWhileComplete();
}

void GrammarParser::endOfInput() {
  endSeen_ = true;
  if (accepted_) return;
  if (!stack_.empty()) chooseFor(kEndSymbol);
  for (;;) {
    if (accepted_) return;
    if (stack_.empty() || !isEnd(stack_.top())) throw ParsingFailure();
    reduce();
    if (!stack_.empty()) chooseFor(kEndSymbol);
  }
}

}  // namespace vna
