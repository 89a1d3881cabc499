-- pandoc's filter for the printed pages; handouts.css styles what it marks.

-- A run of dots is room for an answer written by hand.
function Str(s)
  if s.text:match('^%.%.%.%.+$') then
    return pandoc.Span(s, pandoc.Attr('', {'blank'}))
  end
end

-- Without a language no block is highlighted, by any pandoc version: code prints plain black.
function CodeBlock(b)
  b.classes = {}
  return b
end
