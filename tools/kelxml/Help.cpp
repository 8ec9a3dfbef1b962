#include "Help.h"

namespace kelxml {

const char* const kMainHelp =
    R"(usage: kelxml COMMAND [ARGS...]
       kelxml COMMAND --help
       kelxml --version

Checks, queries, edits and reformats XML documents with the Kel_XML library.

commands:
  check [--validate | --well-formed | --schema [NS=]XSD... --dtd DTD] FILE...
                                             load each file and list every diagnostic
  get FILE... PATH [--attr NAME]... [--text] print the text or attributes of the nodes at PATH
  count FILE... NAME                         count the elements NAME below the root element
  dict FILE PATH                             print the child dictionary of the node at PATH
  set FILE PATH --attr NAME=VALUE | --add NAME=TEXT [--add-attr NAME=VALUE]... | --remove
      [--before | --after | --position N]    edit the first node at PATH and save the file
  format FILE... [-o OUT] [--unindented | --c14n | --c14n-comments]
                                             pretty-print, unindent or canonicalise documents
  xpath FILE... EXPR [--ns PREFIX=URI]... [--xml]
                                             evaluate an XPath 1.0 expression

get, count, check and xpath take several files: with more than one, each output line starts
with its file's name and a colon, as grep writes them; format writes several files into a
folder (-o FOLDER). -j N reads N files at once (by default as many as the machine has cores);
the output is the same, in the order of the files.

PATH names nodes from the root element down, separated by backslashes (quote them in a
shell) or slashes: 'catalog\records\record' and catalog/records/record are the same path.
Its first name is the root element's own (a PATH whose first name is not starts below the root
element: records/record is catalog/records/record there). Every further name but the last goes
down to the FIRST child of that name; the last name selects the nodes at the end.
A PATH (or count's NAME) that starts with '/', or any with --xpath, is an XPath 1.0 expression
instead ('//user[role="dev"]', '/users/user[2]'); --ns PREFIX=URI binds its prefixes. get,
count and dict then read every node it selects, and set edits every one (--first: the first).

Every command takes the load limits (see README, "Load limits"): --huge raises them all for
documents you trust; --max-depth, --max-namespaces, --max-attribute-cost, --max-attribute-length,
--max-expansions, --max-expanded-chars, --max-expanded-nodes, --max-entity-depth, --max-particles,
--max-ambiguous-particles, --max-derivation, --max-external-bytes, --max-distinct-names,
--max-diagnostics, --max-enumeration-comparisons, and for XPath --max-xpath-steps,
--max-xpath-nodes, --max-xpath-chars and --max-xpath-length N set one. A --max-depth above 20000 is lowered to 20000: deeper trees cost
the square of their depth.

What a command reads besides FILE: --resources none (nothing), folder (files in FILE's folder
and below it, through no link that leads out, no file of another user that has a second name)
or local (any local file; never the network, never a FIFO, device or /proc file). By default
commands other than check (format --c14n among them) read nothing unless --validate is given;
check reads the grammars and entities its documents name.

--huge, --resources and the limit options above are options only before the first FILE (or
other operand): after it, such a word is an operand, so that a file named --huge in a folder
you glob is read as a file and lifts no bound. A diagnostic shows the source line of
FILE and of the grammars named by --schema and --dtd only.

FILE may be '-': standard input (not for set, which saves FILE in place).

Results go to standard output, diagnostics to standard error, each naming the file.
Commands other than check read documents as well-formed XML only: no DTD or schema that
the document names is read or checked, so a document whose grammar is unreachable opens.
With --validate they validate against the grammar a document declares, as check does.
They report warnings and validity errors and go on; a document that is not well-formed or
cannot be read stops them.
Exit status: 0 success, 1 the document has problems or nothing was found, 2 usage error.
)";

const char* const kCheckHelp =
    R"(usage: kelxml check [--validate | --well-formed] FILE...
       kelxml check --schema [NS=]XSD... [--dtd DTD] FILE...

Reads each FILE ('-': standard input) as a load would, without building it, and prints every
record of its error list on standard error. A diagnostic of the parser reads
  FILE:LINE:COLUMN: KIND: MESSAGE
followed by the source line and a caret under the column (FILE is the DTD or entity the
diagnostic is in, when it is not the document itself); any other record reads
  FILE: KIND: MESSAGE
KIND is warning, error (a validity error), fatal (not well-formed, unreadable, missing),
exception or missing. A summary line follows on standard output.

A document that declares a grammar (a DTD or a schema) is validated against it. --validate
validates every document, so one without a grammar is reported too. --well-formed checks
well-formedness only and reads no DTD or schema the document names.

--schema XSD (repeatable) and --dtd DTD validate every FILE against those grammars only:
the schemas and DTD a document names itself are not read. NS=XSD says the schema's target
namespace, which is then checked (a file name holding '=' is given as =XSD); a bare XSD may
have any target namespace. The DTD stands
for each document's DOCTYPE external subset; a document without a DOCTYPE cannot be checked
against a DTD. The grammars are read once for all the files; a fault in a grammar is
reported naming the grammar file.

Exit status: 0 when every file loaded without a single record (warnings count), 1 otherwise,
2 on a usage error.
)";

const char* const kGetHelp =
    R"(usage: kelxml get FILE... PATH [--attr NAME]... [--text]

Walks PATH: its first name is the root element's (or PATH starts below it); every further name
but the last goes down to the first child of that name, and each child of the last name is visited in document
order (a PATH of one name visits the root element itself). For each visited
node one line is printed: its whole text (all text and CDATA below it), or, with --attr, the
values of the named attributes separated by tabs (empty when absent). With both --text and
--attr, the text comes first, then the values, all separated by tabs.
Given several files, each is walked in turn and each line starts with its file's name and a
colon; the exit status is 1 when any of them fails.

PATH components are separated by backslashes or slashes; the first is the root element:
  kelxml get examples/sample.xml 'catalog\records\record' --attr id --attr year
  kelxml get examples/sample.xml catalog/settings/name

In the printed text a backslash, tab, newline and carriage return appear as \\, \t, \n and
\r, so every node takes exactly one line.

The document is read as well-formed XML only; --validate validates it against the grammar it
declares and reports what that finds.
FILE is read as it is walked, so its size does not matter: each node is printed as soon as it
ends. A document found malformed part-way has the nodes before the fault printed, then the
fault reported.

Exit status: 0 when at least one node was visited, 1 when the document has problems or PATH
reaches nothing, 2 on a usage error.
)";

const char* const kCountHelp =
    R"(usage: kelxml count FILE... NAME

Prints how many elements called NAME stand below the root element, at any depth (the root
element itself is not counted). NAME "*" counts every element below the root. The document
is read as well-formed XML only; --validate validates it against the grammar it declares.
FILE is read as it is counted, so its size does not matter. Given several files, one line
each: the file's name, a colon and its count.

Exit status: 0 when counted (also when the count is 0), 1 when the document has problems,
2 on a usage error.
)";

const char* const kDictHelp =
    R"(usage: kelxml dict FILE PATH [--all]

Prints the child dictionary of the first node at PATH (see "kelxml get --help" for PATH): one
line per distinct child name, sorted, as NAME, a tab and the text of the LAST child of that
name (escaped as "get" does). Text, comment and CDATA children are left out unless --all is
given; they appear as #text, #comment and #cdata-section. The document is read as
well-formed XML only; --validate validates it against the grammar it declares.

Exit status: 0 on success, 1 when the document has problems or PATH reaches nothing, 2 on a
usage error.
)";

const char* const kSetHelp =
    R"(usage: kelxml set FILE PATH ACTION...

Edits the first node at PATH (see "kelxml get --help" for PATH) and saves FILE: the new text
replaces the old file atomically, keeping its permissions, so a failure leaves it intact.
Only the edit changes the file: the rest is written as it was loaded (layout, attribute
order, XML declaration, document type, encoding). Actions, applied in order:
  --attr NAME=VALUE   set attribute NAME of the node (added, or replaced)
  --add NAME=TEXT     append a child element NAME holding TEXT (NAME= adds an empty one), on a
                      line of its own indented as the children before it
  --add-attr NAME=VALUE
                      set attribute NAME of the element the --add before it adds
  --remove            remove the node (alone; the root element cannot be removed)
Where --add puts its elements (one of, for every --add; each further one goes after the one
before it):
  --before            just before the node at PATH, as its sibling
  --after             just after the node at PATH, as its sibling
  --position N        at element position N (from 1) among the children of the node at PATH

Nothing is saved when any action fails. The document is read as well-formed XML only;
--validate validates it against the grammar it declares.

Exit status: 0 when saved, 1 when the document has problems, PATH reaches nothing or an
action or the save fails, 2 on a usage error.
)";

const char* const kFormatHelp =
    R"(usage: kelxml format FILE [-o OUT] [--unindented | --c14n | --c14n-comments]
       kelxml format FILE... -o FOLDER [-j N] [--unindented | --c14n | --c14n-comments]

Loads FILE ('-': standard input) and writes it again: to standard output (also with -o -),
or to OUT with -o (replaced atomically; OUT may be FILE itself). When OUT is an existing
folder, each FILE is written into it under its own last name (a FILE in that folder is
replaced by its new form); several FILEs need such a folder, two of them may not share a
name, and '-' is not one of them. -j N writes N files at once (by default as many as the
machine has cores), the files and the messages the same as with -j 1. The form is one of:
  (default)        pretty-printed by the parser library's serializer
  --unindented     the serializer's own form without indentation: XML declaration, document
                   type, entity references and CDATA sections kept, empty elements as <e/>,
                   in the document's encoding. --canonical is an older name for it: it is not
                   W3C Canonical XML.
  --c14n           W3C Canonical XML 1.0 (inclusive) without comments: UTF-8, no XML
                   declaration or document type, entity references expanded, default
                   attributes included, attributes and namespaces sorted, CDATA as text
  --c14n-comments  the same with comments

The document is read as well-formed XML only; --validate validates it against the grammar it
declares. The canonical forms take the default attributes of the internal DTD subset; with
--validate or --resources they read the whole DTD a document declares (its default attributes
are part of the canonical form) without validating it: a DTD the system's XML catalogs map to
an installed file is read from there, and one that cannot be read (not allowed, not installed,
or on the network) is left out with a warning, the canonical form being then the one without it.

Exit status: 0 on success, 1 when a document has problems or cannot be written (in
canonical form: also when a namespace URI is relative; the other files are written all the
same), 2 on a usage error (nothing written).
)";

const char* const kXPathHelp =
    R"(usage: kelxml xpath FILE... EXPR [--ns PREFIX=URI]... [--xml]

Evaluates the XPath 1.0 expression EXPR with the document node of FILE ('-': standard input)
as the context node, and prints the result:
  a node-set   one line per node, in document order: its string value (for an element, all
               the text below it), escaped as get escapes text (\\, \t, \n, \r); with --xml,
               the node's markup instead
  a string, a number or a boolean
               one line, as the expression language's string() writes it: numbers without an
               exponent, integers without a fraction, NaN, Infinity, -Infinity; true or false

--ns PREFIX=URI (repeatable) binds a prefix the expression uses: names match by namespace
URI, whatever prefix the document gives it. The xml prefix is always bound. Adjacent text and
CDATA count as one text node, entity references are transparent, and namespace declarations
are on the namespace axis, not the attribute axis (a namespace node prints as the declaration).

  kelxml xpath examples/sample.xml 'count(//record)'
  kelxml xpath examples/sample.xml '//record[@year > 2000]/@id'
  kelxml xpath feed.xml '//a:entry/a:title' --ns a=http://www.w3.org/2005/Atom
  kelxml xpath *.xml 'count(//record)'      # one FILE:COUNT line per file

The document is read as well-formed XML only; --validate validates it against the grammar it
declares and reports what that finds.

Given several files, the expression is evaluated on each in turn and every line printed
starts with the file's name and a colon.

Exit status: 0 on a result (a string, number or boolean, or at least one node) in every
file, 1 on an empty node-set or when a document has problems, 2 on a usage error or an expression that does not
compile (the message names its column).
)";

}  // namespace kelxml
