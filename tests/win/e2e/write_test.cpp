// write tests come next
