// Gives the live page body as HTML text in the form the lyrics markers read:
// tag names in capitals, attribute values bare when they are simple and in
// double quotes otherwise, text with its characters escaped as they were
// written. The lyrics search runs it in the page after each load; the last
// expression is the result.
(function () {
    'use strict';

    // Elements that never have an end tag.
    var VOID_ELEMENTS = {
        AREA: true, BASE: true, BASEFONT: true, BGSOUND: true, BR: true, COL: true,
        EMBED: true, FRAME: true, HR: true, IMG: true, INPUT: true, KEYGEN: true,
        LINK: true, META: true, PARAM: true, SOURCE: true, TRACK: true, WBR: true
    };
    // Elements whose text is written out as it stands, without escapes.
    var RAW_TEXT_ELEMENTS = {
        SCRIPT: true, STYLE: true, XMP: true, IFRAME: true, NOEMBED: true,
        NOFRAMES: true, PLAINTEXT: true, NOSCRIPT: true
    };
    // A value of letters, digits and these few marks needs no quotes.
    var SIMPLE_VALUE = /^[A-Za-z0-9_.#-]+$/;

    function escapeText(text) {
        return text.replace(/&/g, '&amp;').replace(/</g, '&lt;')
            .replace(/>/g, '&gt;').replace(/\u00A0/g, '&nbsp;');
    }

    function escapeQuotedValue(value) {
        return value.replace(/&/g, '&amp;').replace(/"/g, '&quot;')
            .replace(/\u00A0/g, '&nbsp;');
    }

    function attributeText(attribute) {
        var value = attribute.value;
        if (value === '')
            return attribute.name;
        if (SIMPLE_VALUE.test(value))
            return attribute.name + '=' + value;
        return attribute.name + '="' + escapeQuotedValue(value) + '"';
    }

    function startTag(element, name) {
        var parts = ['<', name];
        for (var i = 0; i < element.attributes.length; ++i)
            parts.push(' ', attributeText(element.attributes[i]));
        parts.push('>');
        return parts.join('');
    }

    // A template's content hangs off the element, not among its children.
    function childrenOf(node) {
        return node.content instanceof DocumentFragment ? node.content.childNodes : node.childNodes;
    }

    // Walks the tree with a stack of its own, so no page is too deep for it.
    function serialise(root) {
        var out = [];
        var stack = [{node: root, closing: false}];
        while (stack.length > 0) {
            var entry = stack.pop();
            var node = entry.node;
            if (entry.closing) {
                out.push('</', entry.name, '>');
                continue;
            }
            if (node.nodeType === Node.ELEMENT_NODE) {
                var name = node.localName.toUpperCase();
                out.push(startTag(node, name));
                if (VOID_ELEMENTS[name])
                    continue;
                stack.push({node: node, closing: true, name: name});
                var children = childrenOf(node);
                for (var i = children.length - 1; i >= 0; --i)
                    stack.push({node: children[i], closing: false});
            } else if (node.nodeType === Node.TEXT_NODE) {
                var parent = node.parentNode;
                var raw = parent !== null && parent.nodeType === Node.ELEMENT_NODE &&
                    RAW_TEXT_ELEMENTS[parent.localName.toUpperCase()];
                out.push(raw ? node.data : escapeText(node.data));
            } else if (node.nodeType === Node.COMMENT_NODE) {
                out.push('<!--', node.data, '-->');
            }
        }
        return out.join('');
    }

    return document.body ? serialise(document.body) : '';
})();
