/* Grammar of the script language. Every action builds tree nodes through the parse context;
   constant folding happens inside the operation builder. There are no error-recovery rules:
   the first syntax error ends the parse. */

%define api.pure full
%define api.prefix {gmp}
%define parse.error custom
%parse-param {gmCodeTree::Impl* ctx}
%lex-param {gmCodeTree::Impl* ctx}
%expect 0

%code requires {
#include "script/compiler/gmCodeTreeBuild.h"
}

%code provides {
int gmplex(GMPSTYPE* lval, gmCodeTree::Impl* ctx);
}

%code {
#include "script/compiler/gmLog.h"

#include <cstdio>
#include <cstring>

// The parser stack starts at 200 states and doubles up to 10000; beyond that the parse
// fails with "parser stack overflow". The stacks live on the heap, never on the C stack.
#define YYINITDEPTH 200
#define YYMAXDEPTH 10000
#define YYSTACK_USE_ALLOCA 0

static void gmperror(gmCodeTree::Impl* ctx, const char* message);

// A tree deeper than walkers may recurse over is refused like a stack overflow.
#define CHECK_DEPTH(node) do { if ((node)->height > gmCodeTree::MAX_DEPTH) YYNOMEM; } while (0)
}

%union {
  gmCodeTreeNode* node;
  gmTreeList list;
  std::string* text;
  int value;
}

%token KEYWORD_LOCAL 258
%token KEYWORD_GLOBAL 259
%token KEYWORD_MEMBER 260
%token KEYWORD_AND 261
%token KEYWORD_OR 262
%token KEYWORD_IF 263
%token KEYWORD_ELSE 264
%token KEYWORD_WHILE 265
%token KEYWORD_FOR 266
%token KEYWORD_FOREACH 267
%token KEYWORD_IN 268
%token KEYWORD_BREAK 269
%token KEYWORD_CONTINUE 270
%token KEYWORD_NULL 271
%token KEYWORD_DOWHILE 272
%token KEYWORD_RETURN 273
%token KEYWORD_FUNCTION 274
%token KEYWORD_TABLE 275
%token KEYWORD_THIS 276
%token KEYWORD_TRUE 277
%token KEYWORD_FALSE 278
%token <text> IDENTIFIER 279
%token <text> CONSTANT_HEX 280
%token <text> CONSTANT_BINARY 281
%token <text> CONSTANT_INT 282
%token <text> CONSTANT_CHAR 283
%token <text> CONSTANT_FLOAT 284
%token <text> CONSTANT_STRING 285
%token SYMBOL_ASGN_BSR 286
%token SYMBOL_ASGN_BSL 287
%token SYMBOL_ASGN_ADD 288
%token SYMBOL_ASGN_MINUS 289
%token SYMBOL_ASGN_TIMES 290
%token SYMBOL_ASGN_DIVIDE 291
%token SYMBOL_ASGN_REM 292
%token SYMBOL_ASGN_BAND 293
%token SYMBOL_ASGN_BOR 294
%token SYMBOL_ASGN_BXOR 295
%token SYMBOL_RIGHT_SHIFT 296
%token SYMBOL_LEFT_SHIFT 297
%token SYMBOL_LTE 298
%token SYMBOL_GTE 299
%token SYMBOL_EQ 300
%token SYMBOL_NEQ 301
%token TOKEN_ERROR 302

%type <list> statement_list argument_expression_list field_list parameter_list
%type <node> statement compound_statement var_statement expression_statement
%type <node> selection_statement iteration_statement jump_statement
%type <node> assignment_expression constant_expression_statement constant_expression
%type <node> logical_or_expression logical_and_expression inclusive_or_expression
%type <node> exclusive_or_expression and_expression equality_expression
%type <node> relational_expression shift_expression additive_expression
%type <node> multiplicative_expression unary_expression postfix_expression
%type <node> table_constructor function_constructor field parameter
%type <node> primary_expression identifier constant
%type <value> var_type unary_operator compound_assignment
%type <text> constant_string_list

%start program

%%

program
  : statement_list                        { ctx->root = $1.head; }
  ;

statement_list
  : statement                             { $$ = gmCodeTree::Impl::ListStart($1); }
  | statement_list statement              { $$ = gmCodeTree::Impl::ListAppend($1, $2); }
  ;

statement
  : expression_statement
  | var_statement
  | selection_statement
  | iteration_statement
  | jump_statement
  ;

compound_statement
  : '{' '}'                               { $$ = ctx->Statement(GMST_COMPOUND); }
  | '{' statement_list '}'                { $$ = ctx->Statement(GMST_COMPOUND); ctx->SetChildList($$, 0, $2); CHECK_DEPTH($$); }
  ;

var_statement
  : var_type identifier ';'
      { $$ = ctx->Declaration(GMDT_VARIABLE, $1, $2); }
  | var_type identifier '=' constant_expression ';'
      {
        $$ = ctx->Declaration(GMDT_VARIABLE, $1, $2);
        $$->next = ctx->Operation(GMOP_ASSIGN, $2, $4);
        CHECK_DEPTH($$->next);
      }
  ;

var_type
  : KEYWORD_LOCAL                         { $$ = GMSC_LOCAL; }
  | KEYWORD_GLOBAL                        { $$ = GMSC_GLOBAL; }
  | KEYWORD_MEMBER                        { $$ = GMSC_MEMBER; }
  ;

expression_statement
  : ';'                                   { $$ = nullptr; }
  | assignment_expression ';'             { $$ = $1; }
  ;

selection_statement
  : KEYWORD_IF '(' constant_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_IF);
        $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        CHECK_DEPTH($$);
      }
  | KEYWORD_IF '(' constant_expression ')' compound_statement KEYWORD_ELSE compound_statement
      {
        $$ = ctx->Statement(GMST_IF);
        $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        ctx->SetChild($$, 2, $7);
        CHECK_DEPTH($$);
      }
  | KEYWORD_IF '(' constant_expression ')' compound_statement KEYWORD_ELSE selection_statement
      {
        $$ = ctx->Statement(GMST_IF);
        $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        ctx->SetChild($$, 2, $7);
        CHECK_DEPTH($$);
      }
  ;

iteration_statement
  : KEYWORD_WHILE '(' constant_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_WHILE);
        $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        CHECK_DEPTH($$);
      }
  | KEYWORD_DOWHILE '(' constant_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_DOWHILE);
        $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        CHECK_DEPTH($$);
      }
  | KEYWORD_FOR '(' expression_statement constant_expression_statement ')' compound_statement
      {
        $$ = ctx->Statement(GMST_FOR);
        if ($3)
          $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $4);
        ctx->SetChild($$, 3, $6);
        CHECK_DEPTH($$);
      }
  | KEYWORD_FOR '(' expression_statement constant_expression_statement assignment_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_FOR);
        if ($3)
          $$->line = $3->line;
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 1, $4);
        ctx->SetChild($$, 2, $5);
        ctx->SetChild($$, 3, $7);
        CHECK_DEPTH($$);
      }
  | KEYWORD_FOREACH '(' identifier KEYWORD_IN constant_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_FOREACH);
        $$->line = $5->line;
        ctx->SetChild($$, 0, $5);
        ctx->SetChild($$, 1, $3);
        ctx->SetChild($$, 3, $7);
        CHECK_DEPTH($$);
      }
  | KEYWORD_FOREACH '(' identifier KEYWORD_AND identifier KEYWORD_IN constant_expression ')' compound_statement
      {
        $$ = ctx->Statement(GMST_FOREACH);
        $$->line = $7->line;
        ctx->SetChild($$, 0, $7);
        ctx->SetChild($$, 1, $5);
        ctx->SetChild($$, 2, $3);
        ctx->SetChild($$, 3, $9);
        CHECK_DEPTH($$);
      }
  ;

jump_statement
  : KEYWORD_CONTINUE ';'                  { $$ = ctx->Statement(GMST_CONTINUE); }
  | KEYWORD_BREAK ';'                     { $$ = ctx->Statement(GMST_BREAK); }
  | KEYWORD_RETURN ';'                    { $$ = ctx->Statement(GMST_RETURN); }
  | KEYWORD_RETURN constant_expression ';'
      { $$ = ctx->Statement(GMST_RETURN); ctx->SetChild($$, 0, $2); CHECK_DEPTH($$); }
  ;

assignment_expression
  : logical_or_expression                 { $$ = $1; $$->flags |= GMNF_DISCARD; }
  | postfix_expression '=' logical_or_expression
      { $$ = ctx->Operation(GMOP_ASSIGN, $1, $3); CHECK_DEPTH($$); }
  | postfix_expression compound_assignment logical_or_expression
      {
        /* The target node serves as both the operand and the destination. */
        gmCodeTreeNode* value = ctx->Operation($2, $1, $3);
        CHECK_DEPTH(value);
        $$ = ctx->Operation(GMOP_ASSIGN, $1, value);
        CHECK_DEPTH($$);
      }
  ;

compound_assignment
  : SYMBOL_ASGN_BSR                       { $$ = GMOP_SHR; }
  | SYMBOL_ASGN_BSL                       { $$ = GMOP_SHL; }
  | SYMBOL_ASGN_ADD                       { $$ = GMOP_ADD; }
  | SYMBOL_ASGN_MINUS                     { $$ = GMOP_SUB; }
  | SYMBOL_ASGN_TIMES                     { $$ = GMOP_MUL; }
  | SYMBOL_ASGN_DIVIDE                    { $$ = GMOP_DIV; }
  | SYMBOL_ASGN_REM                       { $$ = GMOP_REM; }
  | SYMBOL_ASGN_BAND                      { $$ = GMOP_BITAND; }
  | SYMBOL_ASGN_BOR                       { $$ = GMOP_BITOR; }
  | SYMBOL_ASGN_BXOR                      { $$ = GMOP_BITXOR; }
  ;

constant_expression_statement
  : ';'                                   { $$ = nullptr; }
  | constant_expression ';'               { $$ = $1; }
  ;

constant_expression
  : logical_or_expression
  ;

logical_or_expression
  : logical_and_expression
  | logical_or_expression KEYWORD_OR logical_and_expression
      { $$ = ctx->Operation(GMOP_OR, $1, $3); CHECK_DEPTH($$); }
  ;

logical_and_expression
  : inclusive_or_expression
  | logical_and_expression KEYWORD_AND inclusive_or_expression
      { $$ = ctx->Operation(GMOP_AND, $1, $3); CHECK_DEPTH($$); }
  ;

inclusive_or_expression
  : exclusive_or_expression
  | inclusive_or_expression '|' exclusive_or_expression
      { $$ = ctx->Operation(GMOP_BITOR, $1, $3); CHECK_DEPTH($$); }
  ;

exclusive_or_expression
  : and_expression
  | exclusive_or_expression '^' and_expression
      { $$ = ctx->Operation(GMOP_BITXOR, $1, $3); CHECK_DEPTH($$); }
  ;

and_expression
  : equality_expression
  | and_expression '&' equality_expression
      { $$ = ctx->Operation(GMOP_BITAND, $1, $3); CHECK_DEPTH($$); }
  ;

equality_expression
  : relational_expression
  | equality_expression SYMBOL_EQ relational_expression
      { $$ = ctx->Operation(GMOP_EQ, $1, $3); CHECK_DEPTH($$); }
  | equality_expression SYMBOL_NEQ relational_expression
      { $$ = ctx->Operation(GMOP_NEQ, $1, $3); CHECK_DEPTH($$); }
  ;

relational_expression
  : shift_expression
  | relational_expression '<' shift_expression
      { $$ = ctx->Operation(GMOP_LT, $1, $3); CHECK_DEPTH($$); }
  | relational_expression '>' shift_expression
      { $$ = ctx->Operation(GMOP_GT, $1, $3); CHECK_DEPTH($$); }
  | relational_expression SYMBOL_LTE shift_expression
      { $$ = ctx->Operation(GMOP_LTE, $1, $3); CHECK_DEPTH($$); }
  | relational_expression SYMBOL_GTE shift_expression
      { $$ = ctx->Operation(GMOP_GTE, $1, $3); CHECK_DEPTH($$); }
  ;

shift_expression
  : additive_expression
  | shift_expression SYMBOL_LEFT_SHIFT additive_expression
      { $$ = ctx->Operation(GMOP_SHL, $1, $3); CHECK_DEPTH($$); }
  | shift_expression SYMBOL_RIGHT_SHIFT additive_expression
      { $$ = ctx->Operation(GMOP_SHR, $1, $3); CHECK_DEPTH($$); }
  ;

additive_expression
  : multiplicative_expression
  | additive_expression '+' multiplicative_expression
      { $$ = ctx->Operation(GMOP_ADD, $1, $3); CHECK_DEPTH($$); }
  | additive_expression '-' multiplicative_expression
      { $$ = ctx->Operation(GMOP_SUB, $1, $3); CHECK_DEPTH($$); }
  ;

multiplicative_expression
  : unary_expression
  | multiplicative_expression '*' unary_expression
      { $$ = ctx->Operation(GMOP_MUL, $1, $3); CHECK_DEPTH($$); }
  | multiplicative_expression '/' unary_expression
      { $$ = ctx->Operation(GMOP_DIV, $1, $3); CHECK_DEPTH($$); }
  | multiplicative_expression '%' unary_expression
      { $$ = ctx->Operation(GMOP_REM, $1, $3); CHECK_DEPTH($$); }
  ;

unary_expression
  : postfix_expression
  | unary_operator unary_expression
      { $$ = ctx->Operation($1, $2, nullptr); CHECK_DEPTH($$); }
  ;

unary_operator
  : '+'                                   { $$ = GMOP_POS; }
  | '-'                                   { $$ = GMOP_NEG; }
  | '~'                                   { $$ = GMOP_BITINV; }
  | '!'                                   { $$ = GMOP_NOT; }
  ;

postfix_expression
  : primary_expression
  | postfix_expression '[' constant_expression ']'
      { $$ = ctx->Operation(GMOP_INDEX, $1, $3); CHECK_DEPTH($$); }
  | postfix_expression '(' ')'
      { $$ = ctx->Expression(GMET_CALL); ctx->SetChild($$, 0, $1); CHECK_DEPTH($$); }
  | postfix_expression '(' argument_expression_list ')'
      {
        $$ = ctx->Expression(GMET_CALL);
        ctx->SetChild($$, 0, $1);
        ctx->SetChildList($$, 1, $3);
        CHECK_DEPTH($$);
      }
  | postfix_expression ':' identifier '(' ')'
      {
        $$ = ctx->Expression(GMET_CALL);
        ctx->SetChild($$, 0, $3);
        ctx->SetChild($$, 2, $1);
        CHECK_DEPTH($$);
      }
  | postfix_expression ':' identifier '(' argument_expression_list ')'
      {
        $$ = ctx->Expression(GMET_CALL);
        ctx->SetChild($$, 0, $3);
        ctx->SetChildList($$, 1, $5);
        ctx->SetChild($$, 2, $1);
        CHECK_DEPTH($$);
      }
  | postfix_expression '.' identifier
      { $$ = ctx->Operation(GMOP_DOT, $1, $3); CHECK_DEPTH($$); }
  ;

argument_expression_list
  : constant_expression                   { $$ = gmCodeTree::Impl::ListStart($1); }
  | argument_expression_list ',' constant_expression
      { $$ = gmCodeTree::Impl::ListAppend($1, $3); }
  ;

table_constructor
  : KEYWORD_TABLE '(' ')'                 { $$ = ctx->Expression(GMET_TABLE); }
  | KEYWORD_TABLE '(' field_list ')'
      { $$ = ctx->Expression(GMET_TABLE); ctx->SetChildList($$, 0, $3); CHECK_DEPTH($$); }
  | '{' '}'                               { $$ = ctx->Expression(GMET_TABLE); }
  | '{' field_list '}'
      { $$ = ctx->Expression(GMET_TABLE); ctx->SetChildList($$, 0, $2); CHECK_DEPTH($$); }
  | '{' field_list ',' '}'
      { $$ = ctx->Expression(GMET_TABLE); ctx->SetChildList($$, 0, $2); CHECK_DEPTH($$); }
  ;

function_constructor
  : KEYWORD_FUNCTION '(' parameter_list ')' compound_statement
      {
        $$ = ctx->Expression(GMET_FUNCTION);
        ctx->SetChildList($$, 0, $3);
        ctx->SetChild($$, 1, $5);
        CHECK_DEPTH($$);
      }
  | KEYWORD_FUNCTION '(' ')' compound_statement
      { $$ = ctx->Expression(GMET_FUNCTION); ctx->SetChild($$, 1, $4); CHECK_DEPTH($$); }
  ;

field_list
  : field                                 { $$ = gmCodeTree::Impl::ListStart($1); }
  | field_list ',' field                  { $$ = gmCodeTree::Impl::ListAppend($1, $3); }
  ;

field
  : constant_expression
  | identifier '=' constant_expression
      { $$ = ctx->Operation(GMOP_FIELD, $1, $3); CHECK_DEPTH($$); }
  ;

parameter_list
  : parameter                             { $$ = gmCodeTree::Impl::ListStart($1); }
  | parameter_list ',' parameter          { $$ = gmCodeTree::Impl::ListAppend($1, $3); }
  ;

parameter
  : identifier                            { $$ = ctx->Declaration(GMDT_PARAMETER, 0, $1); }
  | identifier '=' constant_expression
      {
        $$ = ctx->Declaration(GMDT_PARAMETER, 0, $1);
        ctx->SetChild($$, 1, $3);
        CHECK_DEPTH($$);
      }
  ;

primary_expression
  : identifier
  | '.' identifier                        { $$ = $2; $$->flags |= GMNF_MEMBER; }
  | KEYWORD_THIS                          { $$ = ctx->Expression(GMET_THIS); }
  | constant
  | table_constructor
  | function_constructor
  | '(' constant_expression ')'           { $$ = $2; }
  ;

identifier
  : IDENTIFIER                            { $$ = ctx->Identifier($1); }
  ;

constant
  : CONSTANT_HEX                          { $$ = ctx->HexConstant($1, 16); }
  | CONSTANT_BINARY                       { $$ = ctx->HexConstant($1, 2); }
  | CONSTANT_INT                          { $$ = ctx->DecimalConstant($1); }
  | KEYWORD_TRUE                          { $$ = ctx->IntConstant(1); }
  | KEYWORD_FALSE                         { $$ = ctx->IntConstant(0); }
  | CONSTANT_CHAR                         { $$ = ctx->CharConstant($1); }
  | CONSTANT_FLOAT                        { $$ = ctx->FloatConstant($1); }
  | constant_string_list                  { $$ = ctx->StringConstant($1); }
  | KEYWORD_NULL                          { $$ = ctx->NullConstant(); }
  ;

constant_string_list
  : CONSTANT_STRING                       { $$ = ctx->StringStart($1); }
  | constant_string_list CONSTANT_STRING  { $$ = $1; ctx->StringAppend($$, $2); }
  ;

%%

// Names as the token table gives them: single characters in single quotes.
static const char* gmpTokenName(yysymbol_kind_t symbol)
{
  if (symbol == YYSYMBOL_YYEOF)
    return "$end";
  return yysymbol_name(symbol);
}

static int yyreport_syntax_error(const yypcontext_t* context, gmCodeTree::Impl* ctx)
{
  // Room for "parse error" and four names; the longest name is 18 characters.
  char message[256] = "parse error";
  int count = yypcontext_expected_tokens(context, nullptr, 0);
  if (count > 0 && count < 5)
  {
    yysymbol_kind_t expected[5];
    count = yypcontext_expected_tokens(context, expected, 5);
    size_t used = std::strlen(message);
    for (int i = 0; i < count; ++i)
    {
      int n = std::snprintf(message + used, sizeof(message) - used, "%s%s'", i == 0 ? ", expecting `" : " or `", gmpTokenName(expected[i]));
      if (n < 0 || size_t(n) >= sizeof(message) - used)
        break;
      used += size_t(n);
    }
  }
  ctx->Error(message);
  return 0;
}

// Bison reports only one other failure this way: its stack (or the tree depth) ran out.
static void gmperror(gmCodeTree::Impl* ctx, const char*)
{
  ctx->Error("parser stack overflow");
}
