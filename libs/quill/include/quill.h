/* quill: XML documents as trees of named nodes holding named text items.
 *
 * A node is an XML element. An item is an attribute of its element or a child
 * element holding only text; both read as items, attributes first, then text
 * elements in document order. A document handle is also its root node.
 *
 * Returned names and values belong to the document and live until it is destroyed
 * (or, for a value, until it is set again). Returned arrays are new allocations that
 * the caller releases with quillRelease. Null handles and names are accepted and do
 * nothing (0, null or an empty result).
 *
 * Reading: an element with attributes or child elements is a node; so is an empty
 * element (<A/>, or one holding only blanks or comments). An element holding only text
 * or CDATA is an item, its value the text exactly as written (not trimmed). Text mixed
 * with child elements, comments, processing instructions and the document type are not
 * part of the tree. UTF-8, UTF-16, UTF-32 and Latin-1 (when declared) are read; names
 * and values are UTF-8. Documents larger than 32 MiB or with more than 4 Mi nodes and
 * items are refused like malformed ones.
 *
 * Writing: UTF-8. A node's items are attributes when their names are all distinct,
 * otherwise all text elements, in order, before its child nodes; either form reads back
 * as the same names and values in the same order. A null value is written as empty.
 * Every node and item name must be an XML name, otherwise nothing is written.
 *
 * Numbers of the access layer use '.' as decimal point whatever the C locale.
 * Distinct documents may be used from different threads at the same time. */
#ifndef QUILL_H
#define QUILL_H

#include "vexa_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QuillNode QuillNode;
typedef struct QuillItem QuillItem;

/* Reads a document; null when the file is missing or not well-formed XML.
 * level is accepted for compatibility (10 or 20) and has no effect. */
VEXA_API QuillNode* quillRead(const char* path, int level);
/* Parses a document held in memory; null when not well-formed. */
VEXA_API QuillNode* quillReadBuffer(const char* data, int size);
/* New empty document whose root is named rootName. */
VEXA_API QuillNode* quillNew(const char* rootName);
/* Writes the whole document (UTF-8); 1 on success, 0 on failure. The file is
 * replaced only once the new content is complete. */
VEXA_API int quillWrite(QuillNode* doc, const char* path);
/* Destroys a document given by its root (any other node is ignored). */
VEXA_API void quillDestroy(QuillNode* doc);
/* Releases an array returned by this library; null is accepted. */
VEXA_API void quillRelease(void* array);

VEXA_API const char* quillNodeGetName(QuillNode* node);
VEXA_API int quillNodeCountNodes(QuillNode* node);
/* Children in document order; *count receives their number. Null when none. */
VEXA_API QuillNode** quillNodeGetNodes(QuillNode* node, int* count);
VEXA_API int quillNodeCountItems(QuillNode* node);
/* Items in order; *count receives their number. Null when none. */
VEXA_API QuillItem** quillNodeGetItems(QuillNode* node, int* count);
/* Direct children (items) whose name equals name byte for byte, in document order.
 * level is accepted for compatibility and has no effect. Null and 0 when none. */
VEXA_API QuillNode** quillNodeFindNodes(QuillNode* node, const char* name, int level, int* count);
VEXA_API QuillItem** quillNodeFindItems(QuillNode* node, const char* name, int level, int* count);
/* New last child / new last item; null when node or name is null. */
VEXA_API QuillNode* quillNodeAddNode(QuillNode* node, const char* name);
VEXA_API QuillItem* quillNodeAddItem(QuillNode* node, const char* name, const char* value);

VEXA_API const char* quillItemGetName(QuillItem* item);
VEXA_API const char* quillItemGetValue(QuillItem* item);
VEXA_API int quillItemSetValue(QuillItem* item, const char* value);
VEXA_API int quillItemDelete(QuillItem* item);

/* Access layer used by settings, palettes, animations and logical volumes. */

/* Integer (real) item: 1 and atol (atof) of the value only when exactly one item of
 * that name exists and has a value; otherwise 0 and *value untouched. */
VEXA_API int quillGetIntItem(QuillNode* node, const char* name, long* value);
VEXA_API int quillGetRealItem(QuillNode* node, const char* name, double* value);
/* Text item: the value of the only item of that name, else null. */
VEXA_API const char* quillGetTextItem(QuillNode* node, const char* name);
/* Adds an item formatted with "%d" ("%f"); nothing when node or name is null. */
VEXA_API QuillItem* quillAddIntItem(QuillNode* node, const char* name, int value);
VEXA_API QuillItem* quillAddRealItem(QuillNode* node, const char* name, double value);
/* Sets the only item of that name to "%d"; 0 when there is not exactly one. */
VEXA_API int quillSetIntItem(QuillNode* node, const char* name, int value);

#ifdef __cplusplus
}
#endif

#endif
