// placeholder: replaced as the component lands
